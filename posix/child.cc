#include "posix/child.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "posix/posix.h"
#include "posix/signals.h"

namespace {

// A child that has been sent SIGKILL is gone within this; one that is not
// (stuck in the kernel) must not hold the parent up for ever.
constexpr int kKilledReapMs = 2000;

// Closes every descriptor above 2 that is not in keep: those inherited from
// whoever started the parent as well as the parent's own.
void CloseAllBut(const std::vector<int>& keep) {
  auto kept = [&](int fd) {
    for (int k : keep)
      if (k == fd) return true;
    return fd <= STDERR_FILENO;
  };
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) {
    for (int fd = 3; fd < 1024; ++fd)
      if (!kept(fd)) close(fd);
    return;
  }
  const int own = dirfd(dir);
  int found[256];
  int count = 0;
  // Closed after the listing, which must not change under the reading.
  while (dirent* entry = readdir(dir)) {
    const int fd = atoi(entry->d_name);
    if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9' && fd != own && !kept(fd) &&
        count < 256)
      found[count++] = fd;
  }
  closedir(dir);
  for (int i = 0; i < count; ++i) close(found[i]);
  if (count == 256) CloseAllBut(keep);  // more than one listing's worth
}

}  // namespace

pid_t ForkChild(const ChildSetup& setup) {
  const pid_t parent = getpid();
  SignalsHeld held;
  const pid_t pid = fork();
  if (pid != 0) {
    // Set here as well, so the group exists whichever process runs first.
    if (pid > 0 && setup.ownGroup) setpgid(pid, pid);
    return pid;
  }
  // A parent killed outright takes its children along. A parent that died
  // before this line was reached has already handed this child to another,
  // and the request came too late.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(1);
  if (setup.ownGroup) setpgid(0, 0);
  ResetSignalsInChild();
  // Each one is copied before any is placed, so that a descriptor that sits
  // where another one goes is not lost.
  int from[3] = {setup.in, setup.out, setup.err};
  for (int& fd : from)
    if (fd >= 0 && fd <= STDERR_FILENO) fd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  for (int target = 0; target < 3; ++target)
    if (from[target] >= 0) dup2(from[target], target);
  CloseAllBut(setup.keep);
  return 0;
}

void ExecOrExit(const std::vector<std::string>& args, const char* who) {
  execvp(args[0].c_str(), ArgvOf(args).data());
  fprintf(stderr, "%s: cannot run %s: %s\n", who, args[0].c_str(), strerror(errno));
  _exit(127);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !ended_) StopWithin(0);
}

pid_t ChildProcess::Start(const ChildSetup& setup) {
  if (pid_ > 0) {
    Stop(true);
    // The whole group, what it left behind included.
    if (ownGroup_ || !ended_) ReapWithin(ownGroup_ ? -pid_ : pid_, kKilledReapMs);
    pid_ = -1;
  }
  const pid_t pid = ForkChild(setup);
  if (pid <= 0) return pid;
  pid_ = pid;
  ownGroup_ = setup.ownGroup;
  ended_ = false;
  status_ = 0;
  return pid;
}

void ChildProcess::Stop(bool force) {
  if (pid_ <= 0) return;
  const int sig = force ? SIGKILL : SIGTERM;
  // A child that ended may have left others behind in its group, whose
  // number stays taken while any of them lives.
  if (ownGroup_)
    kill(-pid_, sig);
  else if (!ended_)  // once reaped, its number may belong to another process
    kill(pid_, sig);
}

bool ChildProcess::Ended() {
  if (pid_ <= 0 || ended_) return true;
  for (;;) {
    int status = 0;
    const pid_t got = waitpid(ownGroup_ ? -pid_ : pid_, &status, WNOHANG);
    if (got == pid_) status_ = status;
    if (got == pid_ || (got < 0 && errno == ECHILD)) {
      ended_ = true;
      return true;
    }
    if (got <= 0) return false;
  }
}

bool ChildProcess::StopWithin(int graceMs) {
  if (pid_ <= 0) return true;
  const pid_t which = ownGroup_ ? -pid_ : pid_;
  if (graceMs > 0 && !ended_) {
    Stop(false);
    if (ReapWithin(which, graceMs, &status_)) {
      ended_ = true;
      return true;
    }
  }
  Stop(true);
  if (!ended_) kill(pid_, SIGKILL);
  ended_ = ReapWithin(which, kKilledReapMs, &status_) || ended_;
  return ended_;
}

bool FoundInPath(const std::string& program) {
  const char* env = getenv("PATH");
  std::string path;
  if (env) {
    path = env;
  } else {
    char fallback[256] = "/bin:/usr/bin";
    confstr(_CS_PATH, fallback, sizeof fallback);
    path = fallback;
  }
  size_t from = 0;
  for (;;) {
    const size_t colon = path.find(':', from);
    std::string dir = path.substr(from, colon == std::string::npos ? colon : colon - from);
    if (dir.empty()) dir = ".";  // an empty entry is the current directory
    const std::string candidate = dir + "/" + program;
    struct stat info;
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return true;
    if (colon == std::string::npos) return false;
    from = colon + 1;
  }
}
