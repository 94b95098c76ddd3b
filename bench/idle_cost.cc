// What an idle player costs: CPU time of all its processes as a share of one
// core, and wake-ups per second, with no key and no decoder output; beside
// the floor relay (blocking reads, nothing else) idling over the same time.
//   bench_idle_cost <norvelo> <floor_relay> <latency_decoder> [seconds [--rows]]
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_util.h"

namespace {
IdleCost Measure(const std::vector<std::string>& args, const std::string& pathDir, int seconds) {
  Pty pty;
  if (!pty.Open()) return IdleCost();
  const pid_t pid = SpawnOnLine(args, pty, pathDir);
  DrainFor(pty.master, 1500);
  const IdleCost idle = MeasureIdle(pid, pty, seconds);
  QuitOnLine(pty, pid);
  return idle;
}
}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s norvelo floor_relay latency_decoder [seconds [--rows]]\n", argv[0]);
    return 2;
  }
  const int seconds = argc > 4 ? atoi(argv[4]) : 30;
  TempDir dir("norvelo-bench");
  WriteDecoderWrapper(dir.path());
  const std::string empty = dir.path() + "/empty";
  mkdir(empty.c_str(), 0755);
  // An empty play list: the decoder is ready but never given a track.
  const IdleCost player = Measure({argv[1], "-s", "@SLAVE", "-r", empty}, dir.path(), seconds);
  const IdleCost floor = Measure({argv[2], "@SLAVE", argv[3]}, dir.path(), seconds);
  if (argc <= 5) PrintHeader();
  const std::string span = " (" + std::to_string(seconds) + " s)";
  PrintRow("idle CPU, share of one core" + span, player.cpuPercent, floor.cpuPercent, "%",
           "under 0.5 %", false);
  PrintRow("idle wake-ups per second" + span, player.wakeups, floor.wakeups, "/s", "under 20",
           false);
  return 0;
}
