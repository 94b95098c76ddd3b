#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "console/children.h"
#include "console/receiver.h"
#include "posix/posix.h"
#include "posix/trace.h"
#include "posix/signals.h"

namespace {

// A child that has been sent SIGKILL is gone within this; one that is not
// (stuck in the kernel) must not hold the player up for ever.
constexpr int kKilledReapMs = 2000;

// Closes every descriptor above 2 that is not in keep: those inherited from
// whoever started the player as well as the player's own.
void CloseAllBut(std::initializer_list<int> keep) {
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

bool MakePipe(int fds[2]) { return pipe2(fds, O_CLOEXEC) == 0; }

// The decoder itself goes by the name: "C.UTF-8", "de_DE.utf8".
bool NamesUtf8(const char* locale) {
  return strcasestr(locale, "utf-8") != nullptr || strcasestr(locale, "utf8") != nullptr;
}

// A locale variable's value; unset and empty are the same to the C library.
const char* LocaleVariable(const char* name) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

void ChildProcess::Stop(bool force) {
  if (pid_ <= 0) return;
  // A shell that went first may have left the decoder behind in its group.
  if (force && ownGroup_)
    kill(-pid_, SIGKILL);
  else if (!ended_)  // once reaped, its number may belong to another process
    kill(pid_, force ? SIGKILL : SIGTERM);
}

bool ChildProcess::Ended() {
  if (pid_ <= 0 || ended_) return true;
  for (;;) {
    // For the decoder's group, a decoder its shell left behind is reaped too.
    const pid_t got = waitpid(ownGroup_ ? -pid_ : pid_, nullptr, WNOHANG);
    if (got == pid_ || (got < 0 && errno == ECHILD)) {
      ended_ = true;
      return true;
    }
    if (got <= 0) return false;
  }
}

pid_t ChildProcess::Fork(bool ownGroup, int keepA, int keepB) {
  if (pid_ > 0) {
    Stop(true);
    // The decoder's whole group, what its shell left behind included.
    if (ownGroup_ || !ended_) ReapWithin(ownGroup_ ? -pid_ : pid_, kKilledReapMs);
    pid_ = -1;
  }
  const pid_t parent = getpid();
  pid_t pid;
  {
    SignalsHeld held;
    pid = fork();
    if (pid == 0) {
      // A player killed outright takes its children along. A player that
      // died before this line was reached has already handed this child to
      // another parent, and the request came too late.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(1);
      if (ownGroup) setpgid(0, 0);
      ResetSignalsInChild();
      CloseAllBut({keepA, keepB});
      return 0;
    }
  }
  if (pid < 0) return -1;
  // Set here as well, so the group exists whichever process runs first.
  if (ownGroup) setpgid(pid, pid);
  pid_ = pid;
  ownGroup_ = ownGroup;
  ended_ = false;
  return pid;
}

ReceiverProcess::ReceiverProcess(int lineFd, std::string serport)
    : lineFd_(lineFd), serport_(std::move(serport)) {}

ReceiverProcess::~ReceiverProcess() {
  for (int fd : {lineFd_, commIn_, commOut_})
    if (fd >= 0) close(fd);
}

bool ReceiverProcess::CreatePipe() {
  int comm[2];
  if (!MakePipe(comm)) {
    Trace("Unable to create comm pipe!\n\n");
    return false;
  }
  commIn_ = comm[0];
  commOut_ = comm[1];
  SetNonBlocking(commIn_);
  return true;
}

bool ReceiverProcess::Start() {
  const pid_t pid = Fork(false, lineFd_, commOut_);
  if (pid < 0) {
    Trace("Unable to create RX process!\n\n");
    return false;
  }
  if (pid == 0) {
    // Keys typed at the player's terminal are the player's to act on, and a
    // trace to a closed output must not end the receiver.
    signal(SIGINT, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    RXthread(lineFd_, commOut_, serport_);
  }
  return true;
}

DecoderProcess::~DecoderProcess() { ClosePipes(); }

void DecoderProcess::ClosePipes() {
  for (int* fd : {&input_, &output_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

bool DecoderProcess::Start() {
  ClosePipes();
  int out[2] = {-1, -1}, in[2] = {-1, -1};
  if (!MakePipe(out) || !MakePipe(in)) {
    for (int fd : out)
      if (fd >= 0) close(fd);
    Trace("Unable to create mpg123 stdin/out pipe!\n\n");
    return false;
  }
  const pid_t pid = Fork(true, out[1], in[0]);
  if (pid == 0) {
    // The pipe ends go to 0 and 1 before the shell starts, so the decoder
    // gets exactly 0, 1 and 2 and the redirections of the command name them.
    const int report = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    close(in[0]);
    close(out[1]);
    UseUtf8CharacterType();
    char command[64];
    snprintf(command, sizeof command, "mpg123 -R - >&%d 2>&1 0<&%d", STDOUT_FILENO,
             STDIN_FILENO);
    execlp("sh", "sh", "-c", command, static_cast<char*>(nullptr));
    const char message[] = "mpg123 exec error!\n\n";
    if (write(report, message, sizeof message - 1) < 0) {
    }
    _exit(1);
  }
  close(out[1]);
  close(in[0]);
  if (pid < 0) {
    close(out[0]);
    close(in[1]);
    Trace("Unable to create mpg123 process!\n\n");
    return false;
  }
  output_ = out[0];
  input_ = in[1];
  for (int fd : {output_, input_}) SetNonBlocking(fd);
  return true;
}

void UseUtf8CharacterType() {
  const char* all = LocaleVariable("LC_ALL");
  const char* effective = all;
  if (effective == nullptr) effective = LocaleVariable("LC_CTYPE");
  if (effective == nullptr) effective = LocaleVariable("LANG");
  if (effective != nullptr && NamesUtf8(effective)) return;
  if (all != nullptr) {
    // LC_ALL would override the character type too; its value moves to LANG
    // and over any category of its own that it used to hide, so that every
    // other category stays as it was (the decoder's numbers among them).
    const std::string value = all;
    static const char* const kCategories[] = {
        "LC_NUMERIC", "LC_TIME",  "LC_COLLATE", "LC_MONETARY",   "LC_MESSAGES",   "LC_PAPER",
        "LC_NAME",    "LC_ADDRESS", "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"};
    for (const char* category : kCategories)
      if (LocaleVariable(category) != nullptr) setenv(category, value.c_str(), 1);
    setenv("LANG", value.c_str(), 1);
    unsetenv("LC_ALL");
  }
  setenv("LC_CTYPE", "C.UTF-8", 1);
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
