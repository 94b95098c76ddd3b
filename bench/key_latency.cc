// Key latency: from an IrFrame written on the line to the decoder's receipt
// of the command it causes, and from a volume key to the DisplayFrame with the
// bar; the player beside a floor relay that takes the same hops doing nothing.
//   bench_key_latency <norvelo> <floor_relay> <latency_decoder> [presses]
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_util.h"

namespace {

// Each volume key waits for the line to be free: fewer of them.
constexpr int kVolumePresses = 100;

struct Figures {
  std::vector<double> key, volume;  // milliseconds
};

Figures Measure(const std::vector<std::string>& command, const std::string& dir,
                const std::string& fifoPath, int presses, bool waitForLoad) {
  Figures figures;
  Pty pty;
  const int fifo = open(fifoPath.c_str(), O_RDONLY | O_NONBLOCK);
  if (!pty.Open() || fifo < 0) return figures;
  const pid_t pid = SpawnOnLine(command, pty, dir);
  std::string pending, text;
  if (waitForLoad) NextReceipt(fifo, pending, &text);  // the first LOAD
  DrainFor(pty.master, 300);
  figures.key = TimeKeysToDecoder(pty, fifo, pending, presses);
  DrainPastNextFrame(pty.master);
  for (int i = 0; i < std::min(presses, kVolumePresses); ++i) {
    const double sent = NowSeconds();
    if (!PressKey(pty.master, KeyVolumeUp)) break;
    // The frame whose second line starts with the bar.
    const double got =
        WaitForLine2(pty.master, [](const std::string& line2) { return line2.compare(0, 1, ">") == 0; });
    if (got < 0) break;
    figures.volume.push_back((got - sent) * 1000);
    // The player sends the next frame only once the line has carried this one.
    DrainFor(pty.master, 170);
  }
  QuitOnLine(pty, pid);
  close(fifo);
  return figures;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s norvelo floor_relay latency_decoder [presses [--rows]]\n", argv[0]);
    return 2;
  }
  const int presses = argc > 4 ? atoi(argv[4]) : 200;
  TempDir dir("norvelo-bench");
  const std::string fifo = InstallLatencyDecoder(dir.path(), argv[3]);
  const std::string track = dir.path() + "/track.mp3";

  const Figures player = Measure({argv[1], "-s", "@SLAVE", track}, dir.path(), fifo, presses, true);
  const Figures floor = Measure({argv[2], "@SLAVE", argv[3]}, dir.path(), fifo, presses, false);

  if (argc <= 5) PrintHeader();
  const std::string n = " (" + std::to_string(player.key.size()) + ")";
  PrintRow("key -> decoder line, median" + n, Percentile(player.key, 0.5),
           Percentile(floor.key, 0.5), "ms", "within 2x the floor");
  PrintRow("key -> decoder line, p99" + n, Percentile(player.key, 0.99),
           Percentile(floor.key, 0.99), "ms", "within 1.5x the floor");
  PrintRow("volume key -> bar frame, median", Percentile(player.volume, 0.5),
           Percentile(floor.volume, 0.5), "ms", "same pass, under 10 ms");
  PrintRow("volume key -> bar frame, p99", Percentile(player.volume, 0.99),
           Percentile(floor.volume, 0.99), "ms", "under 10 ms");
  return player.key.empty() || player.volume.empty() ? 1 : 0;
}
