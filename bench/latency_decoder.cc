// A stand-in decoder for the latency benchmarks: stamps every command line it
// receives with the monotonic clock and writes the stamp to the FIFO named by
// NORVELO_BENCH_RECEIPTS. As mpg123 (its default) it says it is ready and
// reads its standard input. Given --input-ipc-client=fd://N, as mpv is, it
// answers every request on that descriptor as mpv does and stamps only the
// commands a key causes, not the property observations and settings around
// a load.
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

long g_entry = 0;

// mpv's answer to a line; false when it was the quit command.
bool AnswerAsMpv(int fd, const std::string& line, bool& stamp) {
  const std::string name = CommandName(line);
  if (name == "quit") return false;
  std::string reply = "{\"request_id\":" + RequestId(line) + ",\"error\":\"success\"}\n";
  if (name == "loadfile")
    reply = "{\"data\":{\"playlist_entry_id\":" + std::to_string(++g_entry) + "}," + reply.substr(1);
  if (write(fd, reply.data(), reply.size()) < 0) return false;
  stamp = name != "observe_property" && name != "set_property";
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  int ipc = -1;
  for (int i = 1; i < argc; ++i)
    if (strncmp(argv[i], "--input-ipc-client=fd://", 24) == 0) ipc = atoi(argv[i] + 24);
  const char* receipts = getenv("NORVELO_BENCH_RECEIPTS");
  const int out = receipts ? open(receipts, O_WRONLY) : -1;
  if (ipc < 0) {
    printf("@R bench\n");
    fflush(stdout);
  }
  const int in = ipc >= 0 ? ipc : STDIN_FILENO;
  std::string line;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n <= 0) return 0;
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') {
        line.push_back(buffer[i]);
        continue;
      }
      bool stamp = true;
      if (ipc < 0 && line == "QUIT") return 0;
      if (ipc >= 0 && !AnswerAsMpv(ipc, line, stamp)) return 0;
      char text[4200];
      const int len = snprintf(text, sizeof text, "%lld.%09ld %s\n",
                               static_cast<long long>(ts.tv_sec), ts.tv_nsec, line.c_str());
      if (stamp && out >= 0 && write(out, text, static_cast<size_t>(len)) < 0) return 1;
      line.clear();
    }
  }
}
