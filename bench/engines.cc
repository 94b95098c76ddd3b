// The engines side by side. Key latency: from an IrFrame on the line to the
// engine's receipt of the command it causes, with mpv (a stand-in on the same
// IPC descriptor: the stamping decoder as mpv) and mpg123 (the stamping
// decoder), beside the floor relay.
// Start-up to sound after a resume: from the player's start to the first
// status line showing the resumed position, with the real mpv and mpg123,
// beside the same start without a saved state.
//   bench_engines <norvelo> <floor_relay> <latency_decoder> [presses [--rows]]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "console/resume.h"

namespace {

constexpr int kStarts = 7;
constexpr int kResumeAt = 20;  // seconds into the second track

std::vector<double> KeyLatency(const std::vector<std::string>& command, const std::string& dir,
                               const std::string& fifoPath, int presses, bool waitForLoad) {
  Pty pty;
  const int fifo = open(fifoPath.c_str(), O_RDONLY | O_NONBLOCK);
  if (!pty.Open() || fifo < 0) return {};
  const pid_t pid = SpawnOnLine(command, pty, dir);
  std::string pending;
  if (waitForLoad) NextReceipt(fifo, pending);  // the first load
  DrainFor(pty.master, 300);
  const std::vector<double> times = TimeKeysToDecoder(pty, fifo, pending, presses);
  QuitOnLine(pty, pid);
  close(fifo);
  return times;
}

// Milliseconds from the start to a status line of track 2 at from seconds or
// later, median of kStarts starts; -1 when none came.
double StartToSound(const std::vector<std::string>& command, const std::string& dir, int from,
                    const std::string& state, const std::string& saved) {
  std::vector<double> times;
  for (int i = 0; i < kStarts; ++i) {
    if (!state.empty()) std::ofstream(state) << saved;
    Pty pty;
    if (!pty.Open()) return -1;
    const double start = NowSeconds();
    const pid_t pid = SpawnOnLine(command, pty, dir);
    // Without a resume, any track: the benches' mpg123 decodes at full speed.
    const std::string head = from > 0 ? "Trk 2 (" : "Trk ";
    const double got = WaitForLine2(pty.master, [&](const std::string& line2) {
      int minutes = 0, seconds = 0;
      const size_t open = line2.find('(');
      return line2.compare(0, head.size(), head) == 0 && open != std::string::npos &&
             sscanf(line2.c_str() + open + 1, "%d:%d", &minutes, &seconds) == 2 &&
             minutes * 60 + seconds >= from;
    });
    if (got > 0) times.push_back((got - start) * 1000);
    QuitOnLine(pty, pid);
  }
  return Percentile(times, 0.5);
}

// Two minutes of silence as MP3, a track each: both engines play them.
bool MakeTracks(const std::string& dir) {
  const std::string raw = dir + "/silence.raw";
  std::ofstream(raw, std::ios::binary) << std::string(44100u * 4u * 60u, '\0');
  const std::string command =
      "cd '" + dir + "' && lame --quiet -r -s 44.1 --bitwidth 16 silence.raw 1.mp3 2>/dev/null && cp 1.mp3 2.mp3";
  return system(command.c_str()) == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s norvelo floor_relay latency_decoder [presses [--rows]]\n", argv[0]);
    return 2;
  }
  const int presses = argc > 4 ? atoi(argv[4]) : 200;
  TempDir stamping("norvelo-bench");
  const std::string fifo = InstallLatencyDecoder(stamping.path(), argv[3]);
  char mpv[4096];
  if (!realpath(argv[3], mpv) || symlink(mpv, (stamping.path() + "/mpv").c_str()) != 0) perror(argv[3]);
  const std::string track = stamping.path() + "/track.mp3";
  const std::vector<double> withMpv =
      KeyLatency({argv[1], "-s", "@SLAVE", "-p", "mpv", track}, stamping.path(), fifo, presses, true);
  const std::vector<double> withMpg123 =
      KeyLatency({argv[1], "-s", "@SLAVE", track}, stamping.path(), fifo, presses, true);
  const std::vector<double> floor =
      KeyLatency({argv[2], "@SLAVE", argv[3]}, stamping.path(), fifo, presses, false);

  if (argc <= 5) PrintHeader();
  const std::string n = " (" + std::to_string(withMpv.size()) + ")";
  PrintRow("key -> mpv command, median" + n, Percentile(withMpv, 0.5), Percentile(floor, 0.5), "ms",
           "under 1 ms, beside mpg123 below");
  PrintRow("key -> mpv command, p99" + n, Percentile(withMpv, 0.99), Percentile(floor, 0.99), "ms",
           "within 1.5x the floor");
  PrintRow("key -> mpg123 command, median", Percentile(withMpg123, 0.5), Percentile(floor, 0.5),
           "ms", "the same run's mpg123");

  // The real engines; mpv with its null output, mpg123 with the benches' own.
  TempDir real("norvelo-bench");
  WriteDecoderWrapper(real.path());
  std::ofstream(real.path() + "/mpv") << "#!/bin/sh\nexec /usr/bin/mpv --ao=null \"$@\"\n";
  chmod((real.path() + "/mpv").c_str(), 0755);
  if (!MakeTracks(real.path())) return 1;
  const std::vector<std::string> list = {real.path() + "/1.mp3", real.path() + "/2.mp3"};
  PlayPoint point;
  point.list = ListIdentity(list, false);
  point.entry = 1;
  point.path = list[1];
  point.position = kResumeAt;
  point.state = PlayState::kPlaying;
  const std::string saved = FormatPlayPoint(point);
  const std::string state = real.path() + "/state";
  bool failed = false;
  for (const char* engine : {"mpg123", "mpv"}) {
    const std::vector<std::string> command = {argv[1], "-s", "@SLAVE", "-p", engine, "-S", state,
                                              list[0], list[1]};
    const std::vector<std::string> fresh = {argv[1], "-s", "@SLAVE", "-p", engine, list[0], list[1]};
    const double resumed = StartToSound(command, real.path(), kResumeAt, state, saved);
    const double first = StartToSound(fresh, real.path(), 0, "", "");
    PrintRow(std::string("start -> sound after resume, ") + engine, resumed, first, "ms",
             "near a start without one (display: 0.5 s steps)");
    failed = failed || resumed < 0;
  }
  return withMpv.empty() || failed ? 1 : 0;
}
