#include "posix/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {
int signalPipe[2] = {-1, -1};
sigset_t taken;
void (*endHook)() = nullptr;

void OnSignal(int sig) {
  const int saved = errno;
  const unsigned char b = static_cast<unsigned char>(sig);
  // A full pipe already holds enough to wake the loop.
  if (write(signalPipe[1], &b, 1) < 0) {
  }
  errno = saved;
}

}  // namespace

bool InstallSignalPipe(std::initializer_list<int> signals) {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  sigemptyset(&taken);
  for (int sig : signals) {
    sigaddset(&taken, sig);
    sigaction(sig, &action, nullptr);
  }
  signal(SIGPIPE, SIG_IGN);
  return true;
}

int SignalPipeFd() { return signalPipe[0]; }

int TakeSignal() {
  unsigned char b = 0;
  return read(signalPipe[0], &b, 1) == 1 ? b : 0;
}

void ResetSignalsInChild() {
  for (int sig = 1; sig < NSIG; ++sig)
    if (sigismember(&taken, sig) == 1) signal(sig, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
  sigprocmask(SIG_UNBLOCK, &taken, nullptr);
  endHook = nullptr;  // the parent's to run
  for (int& fd : signalPipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

SignalsHeld::SignalsHeld() { sigprocmask(SIG_BLOCK, &taken, &saved_); }

SignalsHeld::~SignalsHeld() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

void AtEndBySignal(void (*hook)()) { endHook = hook; }

void RaiseDefault(int sig) {
  if (endHook) endHook();
  signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);  // not reached for the signals the player ends by
}
