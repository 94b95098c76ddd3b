// Stand-in for the decoder in its remote-control mode, installed as "mpg123"
// on the PATH of a test. It logs every command line it is sent and forwards
// to its output whatever the test writes into a FIFO, so a test decides
// byte for byte what the player sees, split lines and overlong ones included.
//
// Environment:
//   FAKE_DECODER_LOG      file that gets each command line received (required)
//   FAKE_DECODER_FIFO     FIFO whose bytes are copied to standard output
//   FAKE_DECODER_READY    the ready line written at start ("" writes none)
//   FAKE_DECODER_ON_LOAD  reply written after each LOAD; {path} is the path
//   FAKE_DECODER_STUBBORN "1": ignore QUIT and SIGTERM, so only SIGKILL ends it
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "posix/posix.h"

// In the sanitizer tree the player's group kill often finds this stand-in in
// its leak check at exit; the check, cut short, then reports a failure of its
// own. Leaks of a test tool are not what that tree looks for.
extern "C" int __lsan_is_turned_off() { return 1; }

namespace {

std::string Env(const char* name, const char* fallback) {
  const char* value = getenv(name);
  return value ? value : fallback;
}

std::string Substitute(std::string text, const std::string& path) {
  const std::string key = "{path}";
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + path.size()))
    text.replace(at, key.size(), path);
  return text;
}

struct Fake {
  int log = -1;
  bool stubborn = false;
  std::string onLoad;
  std::string pending;

  // True when the decoder should end.
  bool Command(const std::string& line) {
    WriteAll(log, line + "\n");
    if (line.compare(0, 5, "LOAD ") == 0 && !onLoad.empty())
      WriteAll(STDOUT_FILENO, Substitute(onLoad, line.substr(5)));
    return line == "QUIT" && !stubborn;
  }

  bool Input(const char* bytes, size_t count) {
    pending.append(bytes, count);
    for (size_t nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
      const std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (Command(line)) return true;
    }
    return false;
  }
};

}  // namespace

int main() {
  Fake fake;
  fake.log = open(Env("FAKE_DECODER_LOG", "/dev/null").c_str(),
                  O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  fake.stubborn = Env("FAKE_DECODER_STUBBORN", "") == "1";
  fake.onLoad = Env("FAKE_DECODER_ON_LOAD", "");
  if (fake.stubborn) signal(SIGTERM, SIG_IGN);

  const std::string fifoPath = Env("FAKE_DECODER_FIFO", "");
  // Opened for writing too, so the FIFO never reports an end between writers.
  const int fifo = fifoPath.empty() ? -1 : open(fifoPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);

  const std::string ready = Env("FAKE_DECODER_READY", "@R MPG123 (fake) v10");
  if (!ready.empty()) WriteAll(STDOUT_FILENO, ready + "\n");

  bool stdinOpen = true;
  char buffer[4096];
  for (;;) {
    pollfd fds[2] = {{stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}, {fifo, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    // Commands first: what the player sent before the test's next line was
    // written is then logged before that line goes out.
    if (fds[0].revents & (POLLIN | POLLHUP)) {
      const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n > 0 && fake.Input(buffer, static_cast<size_t>(n))) return 0;
      if (n == 0) {
        if (!fake.stubborn) return 0;
        stdinOpen = false;
      }
      continue;
    }
    if (fds[1].revents & POLLIN) {
      const ssize_t n = read(fifo, buffer, sizeof buffer);
      if (n > 0) WriteAll(STDOUT_FILENO, std::string(buffer, static_cast<size_t>(n)));
    }
  }
}
