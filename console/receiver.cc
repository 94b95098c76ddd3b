#include "console/receiver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "posix/serial.h"
#include "link/keys.h"
#include "posix/posix.h"

namespace {
std::atomic<int> wait_flag{1};
static_assert(std::atomic<int>::is_always_lock_free, "the flag is shared with a signal handler");

int BytesWaiting(int fd) {
  int count = 0;
  if (ioctl(fd, FIONREAD, &count) < 0) return 0;
  return count;
}
}  // namespace

void signal_handler_IO(int) { wait_flag.store(0); }

namespace {
// Owner of the line's input notifications: this process, and no blocking.
void Attach(int fd) {
  fcntl(fd, F_SETOWN, getpid());
  fcntl(fd, F_SETFL, O_ASYNC);
}

timespec Timeout(int ms) { return {ms / 1000, (ms % 1000) * 1000000L}; }

void SleepWithSignals(int ms, const sigset_t& waitMask) {
  const timespec timeout = Timeout(ms);
  ppoll(nullptr, 0, &timeout, &waitMask);
}
}  // namespace

void RXthread(int serialFd, int commOut, const std::string& serport) {
  struct sigaction action = {};
  action.sa_handler = signal_handler_IO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGIO, &action, nullptr);

  // SIGIO is taken only inside the wait below, so a notification can never
  // fall between looking at the flag and going to sleep.
  sigset_t io, waitMask;
  sigemptyset(&io);
  sigaddset(&io, SIGIO);
  sigprocmask(SIG_BLOCK, &io, &waitMask);
  sigdelset(&waitMask, SIGIO);

  int fd = serialFd;
  Attach(fd);
  FrameAssembler assembler;
  for (;;) {
    if (fd < 0) {
      SleepWithSignals(kReopenIntervalMs, waitMask);
      fd = TryReopenLine(serport);
      if (fd >= 0) Attach(fd);
      continue;
    }
    bool hungUp = false;
    while (wait_flag.load()) {
      const int left = assembler.Expire(MonotonicMs());
      const timespec timeout = Timeout(left);
      // The line itself is watched too: a hang-up sends no notification, and
      // a dead line must be closed rather than read in a loop.
      pollfd line = {fd, POLLIN, 0};
      ppoll(&line, 1, left >= 0 ? &timeout : nullptr, &waitMask);
      if (line.revents & kLineGoneEvents) {
        hungUp = true;
        break;
      }
      if (line.revents & POLLIN) wait_flag.store(0);
    }
    if (hungUp) {
      LoseLine(fd, assembler, serport);
      continue;
    }
    wait_flag.store(1);
    // The line is blocking from now on: read only what is there, so that a
    // notification without data (a late signal) cannot stall us.
    if (BytesWaiting(fd) > 0) {
      uint8_t bytes[2];
      const ssize_t got = read(fd, bytes, static_cast<size_t>(assembler.Wanted()));
      uint8_t frame[2];
      if (got > 0 && assembler.Take(bytes, static_cast<int>(got), MonotonicMs(), frame)) {
        ssize_t ignored = write(commOut, frame, 2);
        (void)ignored;
      }
    }
    // Notifications are not counted: bytes still waiting count as another one.
    if (BytesWaiting(fd) > 0) wait_flag.store(0);
  }
}
