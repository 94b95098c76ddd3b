// A stand-in decoder for the latency benchmarks: says it is ready, then
// stamps every command line it receives with the monotonic clock and writes
// the stamp to the FIFO named by NORVELO_BENCH_RECEIPTS.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main() {
  const char* receipts = getenv("NORVELO_BENCH_RECEIPTS");
  const int out = receipts ? open(receipts, O_WRONLY) : -1;
  printf("@R bench\n");
  fflush(stdout);
  std::string line;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) return 0;
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') {
        line.push_back(buffer[i]);
        continue;
      }
      if (line == "QUIT") return 0;
      char stamp[4200];
      const int len = snprintf(stamp, sizeof stamp, "%lld.%09ld %s\n",
                               static_cast<long long>(ts.tv_sec), ts.tv_nsec, line.c_str());
      if (out >= 0 && write(out, stamp, static_cast<size_t>(len)) < 0) return 1;
      line.clear();
    }
  }
}
