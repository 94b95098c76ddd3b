// Library scale: how long `-r` over a large generated tree takes before the
// first LOAD reaches the decoder, and the player's peak memory, beside
// `find DIR -name '*.mp3' | sort` over the same tree in the same run.
//   bench_library_scale <norvelo> <latency_decoder> [files...]
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "posix/posix.h"
#include "tests/support/proc.h"

namespace {

// Depth 4 below the root, ten folders a level; about one folder in eight
// holds a play list instead of being listed by its MP3 files.
void MakeTree(const std::string& root, int files) {
  const int leaves = 1000;
  const int perLeaf = (files + leaves - 1) / leaves;
  int made = 0;
  for (int leaf = 0; leaf < leaves && made < files; ++leaf) {
    std::string dir = root;
    for (int level = 0, n = leaf; level < 3; ++level, n /= 10) {
      dir += "/d" + std::to_string(n % 10);
      mkdir(dir.c_str(), 0755);
    }
    dir += "/Album " + std::to_string(leaf);
    mkdir(dir.c_str(), 0755);
    std::ofstream list;
    if (leaf % 8 == 0) list.open(dir + "/list.m3u");
    for (int i = 0; i < perLeaf && made < files; ++i, ++made) {
      const std::string name = std::to_string(i) + " - Track number " + std::to_string(made) + ".mp3";
      std::ofstream(dir + "/" + name).put('x');
      if (list.is_open()) list << name << "\n";
    }
  }
}

double TimeFindSort(const std::string& root) {
  const double start = NowSeconds();
  const std::string command = "find '" + root + "' -name '*.mp3' | sort > /dev/null";
  if (system(command.c_str()) != 0) return -1;
  return NowSeconds() - start;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s norvelo latency_decoder [files...]\n", argv[0]);
    return 2;
  }
  std::vector<int> sizes;
  for (int i = 3; i < argc; ++i) sizes.push_back(atoi(argv[i]));
  if (sizes.empty()) sizes = {10000, 100000};
  TempDir dir("norvelo-bench");
  const std::string fifo = InstallLatencyDecoder(dir.path(), argv[2]);

  bool rows = false;
  int lastFiles = 0;
  long lastPeak = 0;
  for (int files : sizes) {
    if (files <= 0) {  // "--rows" reads as 0
      rows = true;
      continue;
    }
    if (!rows) {
      PrintHeader();
      rows = true;
    }
    const std::string root = dir.path() + "/tree" + std::to_string(files);
    mkdir(root.c_str(), 0755);
    MakeTree(root, files);
    TimeFindSort(root);  // both measured on a warm cache
    const double reference = TimeFindSort(root);

    Pty pty;
    const int receipts = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    if (!pty.Open() || receipts < 0) return 1;
    const double start = NowSeconds();
    const pid_t pid = SpawnOnLine({argv[1], "-s", "@SLAVE", "-r", root}, pty, dir.path());
    std::string got;
    while (got.find('\n') == std::string::npos && NowSeconds() - start < 120) {
      char buffer[4096];
      const ssize_t n = read(receipts, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
      else SleepUs(200);
    }
    const double firstLoad = NowSeconds() - start;
    const long peak = ProcStatusNumber(pid, "VmHWM");
    QuitOnLine(pty, pid);
    close(receipts);
    const std::string tree = " (" + std::to_string(files) + " files)";
    PrintRow("-r start to first LOAD" + tree, firstLoad, reference, "s",
             "within 1.5x of find | sort");
    PrintRow("peak memory" + tree, static_cast<double>(peak), -1, "KiB", "linear in the entries",
             false);
    if (lastFiles > 0 && files > lastFiles)
      PrintRow("memory per further 1000 entries",
               1000.0 * static_cast<double>(peak - lastPeak) / (files - lastFiles), -1, "KiB",
               "flat across sizes", false);
    lastFiles = files;
    lastPeak = peak;
  }
  return 0;
}
