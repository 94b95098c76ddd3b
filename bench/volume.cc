// The volume keys through a real sound server, and the display behind a held
// volume key on a line read at its real rate.
//   bench_volume <norvelo> <floor_relay> <latency_decoder> [presses [--rows]]
//
// 1. Volume key -> ALSA mixer set on a PulseAudio null sink -> DisplayFrame
//    with the bar, one key at a time with the line free; beside the floor
//    relay, which answers the key with a frame and does nothing else.
// 2. A volume key held for 5 s (a repeat every 114 ms) while the control
//    unit's end of the line takes one byte a character time (2400 baud): how
//    long after the last key the last frame starts on the unit, the worst of
//    holds at five repeat rates around the usual 114 ms. Beside the floor relay, which writes a frame for every key
//    at once as the player did before its frames kept the line's pace:
//    "before" and "after".
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "link/display_reader.h"
#include "link/link.h"
#include "posix/posix.h"
#include "tests/support/proc.h"
#include "sound_server.h"

namespace {

constexpr double kCharacterSeconds = 1.0 / kLineBytesPerSecond;
constexpr double kRepeatSeconds = 0.114;             // a held RC-5 key
constexpr double kHoldSeconds = 5.0;
// Remotes repeat a little faster or slower; each period puts the last key
// elsewhere in a frame time.
constexpr double kRepeatsTried[] = {0.106, 0.110, 0.114, 0.118, 0.122};

// The unit's end of a 2400-baud line: what the host wrote waits in the
// pseudo-terminal, as in a serial driver, and is taken one byte a character
// time after the one before. Each frame's start on the unit is noted.
struct SlowLine {
  explicit SlowLine(int line) : fd(line) {}
  int fd;
  double nextAt = 0;      // when the line can carry the next byte
  double quietSince = 0;  // when nothing was seen waiting, last
  // Frames as the unit takes them, each with its start in microseconds.
  DisplayFrameReader reader{kDisplayWidth};
  std::vector<DisplayLines> frames;

  void RunUntil(double end) {
    for (;;) {
      const double now = NowSeconds();
      if (now >= end) return;
      if (now < nextAt) {
        SleepUs(static_cast<uint64_t>((std::min(nextAt, end) - now) * 1e6));
        continue;
      }
      pollfd p = {fd, POLLIN, 0};
      double start;
      if (poll(&p, 1, 0) > 0) {
        // Waiting already: it goes on the line when the line is free, or
        // arrived since the buffer was last seen empty.
        start = std::max(nextAt, quietSince);
      } else {
        quietSince = now;
        if (poll(&p, 1, static_cast<int>((end - now) * 1000) + 1) <= 0) {
          quietSince = NowSeconds();
          continue;
        }
        start = NowSeconds();
      }
      unsigned char byte;
      if (read(fd, &byte, 1) != 1) continue;
      for (DisplayLines& frame : reader.Feed(&byte, 1, static_cast<int64_t>(start * 1e6)))
        frames.push_back(std::move(frame));
      nextAt = start + kCharacterSeconds;
    }
  }

  // The frames so far, the last one as far as it came.
  std::vector<DisplayLines> Frames() const {
    std::vector<DisplayLines> all = frames;
    if (reader.Partial() != nullptr) all.push_back(*reader.Partial());
    return all;
  }
};

// Time from each volume key to the frame with its bar, with the line free
// before every key; the volumes alternate up and down.
std::vector<double> KeyToBar(const Pty& pty, int presses) {
  std::vector<double> ms;
  DrainFor(pty.master, 300);  // start-up frames
  DrainPastNextFrame(pty.master);
  for (int i = 0; i < presses; ++i) {
    const double sent = NowSeconds();
    if (!PressKey(pty.master, i % 2 == 0 ? KeyVolumeUp : KeyVolumeDown)) break;
    const double got =
        WaitForLine2(pty.master, [](const std::string& line2) { return !line2.empty(); });
    if (got < 0) break;
    ms.push_back((got - sent) * 1000);
    DrainFor(pty.master, 170);  // the bar frame's line time and some room
  }
  return ms;
}

// Holds volume up for 5 s on a line read at its rate; the ms from the last
// key to the start of the last frame that answers a key (a status frame
// that follows later is not an answer), and that frame's line 2.
double HeldKeyLag(const Pty& pty, double repeat, std::string* lastLine2) {
  SlowLine line(pty.master);
  line.RunUntil(NowSeconds() + 0.7);
  const double first = NowSeconds();
  double last = first;
  for (double at = first; at < first + kHoldSeconds; at += repeat) {
    line.RunUntil(at);
    last = NowSeconds();
    if (!PressKey(pty.master, KeyVolumeUp)) return -1;
  }
  line.RunUntil(last + 2.5);
  const std::vector<DisplayLines> frames = line.Frames();
  for (size_t i = frames.size(); i-- > 0;) {
    const double start = static_cast<double>(frames[i].at) / 1e6;
    if (start < last) break;
    if (frames[i].line2.compare(0, 4, "Trk ") == 0) continue;
    if (lastLine2) *lastLine2 = frames[i].line2;
    return (start - last) * 1000;
  }
  return -1;
}

int LastVolume(const std::string& trace) {
  int volume = -1;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) sscanf(line.c_str(), "Volume=%d%%", &volume);
  return volume;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s norvelo floor_relay latency_decoder [presses [--rows]]\n", argv[0]);
    return 2;
  }
  const int presses = argc > 4 ? atoi(argv[4]) : 100;
  if (!e2e::SoundServer::Available()) {
    fprintf(stderr, "bench_volume: pulseaudio and pactl are not installed\n");
    return 1;
  }
  e2e::SoundServer server;
  server.UseHere();  // the player, started from here, finds it as ALSA's default
  if (!server.Start() || !server.SetSinkVolume(50)) {
    fprintf(stderr, "bench_volume: the sound server did not start\n%s", server.Log().c_str());
    return 1;
  }
  TempDir dir("norvelo-bench");
  WriteDecoderWrapper(dir.path());
  const std::string empty = dir.path() + "/empty";
  mkdir(empty.c_str(), 0755);
  const std::string tracePath = dir.path() + "/trace";
  const std::vector<std::string> player = {argv[1], "-s", "@SLAVE", "-r", empty};
  const std::vector<std::string> relay = {argv[2], "@SLAVE", argv[3]};
  bool ok = true;

  std::vector<double> playerKey, relayKey;
  double lagAfter = -1, lagBefore = -1;
  std::string lastLine2;
  {
    Pty pty;
    if (!pty.Open()) return 1;
    const int trace = open(tracePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = SpawnOnLine(player, pty, dir.path(), trace);
    close(trace);
    playerKey = KeyToBar(pty, presses);
    // The sink followed the keys: the mixer was set, not only the display.
    const int traced = LastVolume(ReadWholeFile(tracePath));
    if (server.SinkVolume() != traced) {
      fprintf(stderr, "bench_volume: the sink is at %d, the trace says %d\n", server.SinkVolume(),
              traced);
      ok = false;
    }
    // The lag depends on where in a frame time the last key falls: the
    // worst of a few holds.
    for (double repeat : kRepeatsTried) {
      server.SetSinkVolume(0);
      lagAfter = std::max(lagAfter, HeldKeyLag(pty, repeat, &lastLine2));
    }
    QuitOnLine(pty, pid);
  }
  const std::string trace = ReadWholeFile(tracePath);
  if (trace.find("Mixer: ALSA default") == std::string::npos) {
    fprintf(stderr, "bench_volume: the player did not take the ALSA mixer:\n%s", trace.c_str());
    ok = false;
  }
  const int final = LastVolume(trace);
  std::string bar(static_cast<size_t>(final * 16 / 100), '>');
  if (bar.size() < 15) bar.resize(15, ' ');
  if (lastLine2 != bar + " ") {
    fprintf(stderr, "bench_volume: the last frame shows [%s], the final volume is %d\n",
            lastLine2.c_str(), final);
    ok = false;
  }
  {
    Pty pty;
    if (!pty.Open()) return 1;
    const pid_t pid = SpawnOnLine(relay, pty, dir.path());
    relayKey = KeyToBar(pty, presses);
    lagBefore = HeldKeyLag(pty, kRepeatSeconds, nullptr);
    QuitOnLine(pty, pid);
  }
  server.Stop();

  if (argc <= 5) PrintHeader();
  const std::string n = " (" + std::to_string(playerKey.size()) + ")";
  // Most of it is the sound server's answer to the set request.
  PrintRow("volume key -> ALSA -> bar, median" + n, Percentile(playerKey, 0.5),
           Percentile(relayKey, 0.5), "ms", "under 20 ms");
  PrintRow("volume key -> ALSA -> bar, p99" + n, Percentile(playerKey, 0.99),
           Percentile(relayKey, 0.99), "ms", "under 50 ms");
  PrintRow("held 5 s, 2400 baud: last key -> frame", lagAfter, lagBefore, "ms",
           "under 150 ms; reference: a frame per key", false);
  return ok && !playerKey.empty() && lagAfter >= 0 ? 0 : 1;
}
