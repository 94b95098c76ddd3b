// What an idle player costs: CPU time of all its processes as a share of one
// core, and wake-ups per second, with no key and no decoder output.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_util.h"

int main(int argc, char* argv[]) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s path/to/norvelo [seconds]\n", argv[0]);
    return 2;
  }
  const int seconds = argc > 2 ? atoi(argv[2]) : 30;
  TempDir dir;
  WriteDecoderWrapper(dir.path);
  const std::string empty = dir.path + "/empty";
  mkdir(empty.c_str(), 0755);
  Pty pty;
  if (!pty.Open()) {
    perror("pty");
    return 1;
  }
  // An empty play list: the decoder is ready but never given a track.
  const pid_t player = Spawn({argv[1], "-s", pty.slave, "-r", empty}, dir.path);
  DrainFor(pty.master, 1500);
  const CpuSample before = SampleGroup(player);
  const double start = NowSeconds();
  DrainFor(pty.master, seconds * 1000);
  const CpuSample after = SampleGroup(player);
  const double span = NowSeconds() - start;
  const unsigned char quit[2] = {0x0C, 0x35};
  if (write(pty.master, quit, 2) != 2) perror("write");
  const int status = WaitExit(player, 5000);

  printf("idle cost over %.1f s, %d processes: cpu %.3f%% of one core, %.1f wake-ups/s (exit %d)\n",
         span, after.processes, 100.0 * (after.cpuSeconds - before.cpuSeconds) / span,
         static_cast<double>(after.contextSwitches - before.contextSwitches) / span, status);
  return 0;
}
