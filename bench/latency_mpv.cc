// A stand-in mpv for the latency benchmark: answers every request on the
// IPC descriptor it is given (--input-ipc-client=fd://N) as mpv does, and
// stamps each command that a key causes (not the property observations and
// settings around a load) with the monotonic clock, to the FIFO named by
// NORVELO_BENCH_RECEIPTS, in the stamping decoder's format.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string RequestId(const std::string& line) {
  const size_t at = line.find("\"request_id\":");
  if (at == std::string::npos) return "0";
  return std::to_string(atol(line.c_str() + at + 13));
}

// The command's name: the first string of the command array.
std::string CommandName(const std::string& line) {
  const size_t at = line.find("\"command\":[\"");
  if (at == std::string::npos) return std::string();
  const size_t from = at + 12;
  return line.substr(from, line.find('"', from) - from);
}

}  // namespace

int main(int argc, char* argv[]) {
  int fd = -1;
  for (int i = 1; i < argc; ++i)
    if (strncmp(argv[i], "--input-ipc-client=fd://", 24) == 0) fd = atoi(argv[i] + 24);
  if (fd < 0) return 2;
  const char* receipts = getenv("NORVELO_BENCH_RECEIPTS");
  const int out = receipts ? open(receipts, O_WRONLY) : -1;
  std::string line;
  char buffer[4096];
  long entry = 0;
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return 0;
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') {
        line.push_back(buffer[i]);
        continue;
      }
      const std::string name = CommandName(line);
      if (name == "quit") return 0;
      std::string reply = "{\"request_id\":" + RequestId(line) + ",\"error\":\"success\"}\n";
      if (name == "loadfile")
        reply = "{\"data\":{\"playlist_entry_id\":" + std::to_string(++entry) + "}," + reply.substr(1);
      if (write(fd, reply.data(), reply.size()) < 0) return 1;
      if (name != "observe_property" && name != "set_property" && out >= 0) {
        char stamp[4200];
        const int len = snprintf(stamp, sizeof stamp, "%lld.%09ld %s\n",
                                 static_cast<long long>(ts.tv_sec), ts.tv_nsec, line.c_str());
        if (write(out, stamp, static_cast<size_t>(len)) < 0) return 1;
      }
      line.clear();
    }
  }
}
