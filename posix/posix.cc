#include "posix/posix.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

uint64_t MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

uint64_t MonotonicMs() { return MonotonicUs() / 1000u; }

void SleepUs(uint64_t us) {
  const timespec ts = {static_cast<time_t>(us / 1000000u), static_cast<long>(us % 1000000u) * 1000L};
  nanosleep(&ts, nullptr);
}

bool ReapWithin(pid_t which, int timeoutMs, int* status) {
  const uint64_t end = MonotonicMs() + static_cast<uint64_t>(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    int reaped = 0;
    const pid_t got = waitpid(which, &reaped, WNOHANG);
    if (got > 0) {
      if (status != nullptr) *status = reaped;
      if (got == which) return true;
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno == ECHILD;
    if (MonotonicMs() >= end) return false;
    SleepMs(5);
  }
}

bool WriteAll(int fd, std::string_view data, int timeoutMs) {
  const uint64_t start = MonotonicMs();
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    const int left = timeoutMs - static_cast<int>(MonotonicMs() - start);
    if (left <= 0) return false;
    pollfd p = {fd, POLLOUT, 0};
    poll(&p, 1, left);
  }
  return true;
}

std::vector<char*> ArgvOf(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

int OpenPtyMaster(std::string& slavePath) {
  const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (fd >= 0 && grantpt(fd) == 0 && unlockpt(fd) == 0 && ptsname_r(fd, name, sizeof name) == 0) {
    slavePath = name;
    return fd;
  }
  const int saved = errno;
  if (fd >= 0) close(fd);
  errno = saved;
  return -1;
}

void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &t);
}

bool MakePipe(int fds[2]) { return pipe2(fds, O_CLOEXEC) == 0; }

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void SetCloseOnExec(int fd) { fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC); }

void OpenStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int null = open("/dev/null", O_RDWR);  // the lowest free number: fd
    if (null > fd) {
      dup2(null, fd);
      close(null);
    }
  }
}
