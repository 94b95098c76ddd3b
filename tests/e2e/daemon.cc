#include "daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "posix/posix.h"

namespace e2e {
namespace {

constexpr int kStopGraceMs = 5000;
constexpr int kEncoderRate = 22050;

}  // namespace

bool Daemon::Start(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   const std::string& logPath, bool inherited) {
  Stop(true);
  std::vector<std::string> environment = env;
  for (char** entry = environ; inherited && *entry; ++entry) {
    const std::string name = std::string(*entry).substr(0, strcspn(*entry, "=") + 1);
    bool overridden = false;
    for (const std::string& given : env) overridden = overridden || given.rfind(name, 0) == 0;
    if (!overridden) environment.emplace_back(*entry);
  }
  std::vector<char*> argv = ArgvOf(args), envp = ArgvOf(environment);
  const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    if (log >= 0) {
      dup2(log, STDOUT_FILENO);
      dup2(log, STDERR_FILENO);
    }
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (log >= 0) close(log);
  if (pid < 0) return false;
  pid_ = pid;
  return true;
}

bool Daemon::Running() {
  if (pid_ <= 0) return false;
  // Ended, or reaped already by a session that cleared up after the player.
  if (waitpid(pid_, nullptr, WNOHANG) != 0) pid_ = -1;
  return pid_ > 0;
}

void Daemon::Stop(bool force) {
  if (!Running()) return;
  kill(pid_, force ? SIGKILL : SIGTERM);
  if (!ReapWithin(pid_, kStopGraceMs)) {
    kill(pid_, SIGKILL);
    ReapWithin(pid_, kStopGraceMs);
  }
  pid_ = -1;
}

std::string CommandOutput(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status) *status = -1;
    return out;
  }
  char buffer[512];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int result = pclose(pipe);
  if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return out;
}

bool WriteSilentMp3(const std::string& path, double seconds, const std::string& tagOptions) {
  const std::string raw = path + ".raw";
  std::ofstream(raw, std::ios::binary)
      << std::string(static_cast<size_t>(seconds * kEncoderRate) * 2, '\0');
  // Tag texts are read in the encoder's locale.
  const std::string command = "LC_ALL=C.UTF-8 timeout 60 lame --quiet -r -s 22.05 -m m --bitwidth 16 " +
                              tagOptions + " '" + raw + "' '" + path + "' 2>/dev/null";
  const bool made = system(command.c_str()) == 0;
  unlink(raw.c_str());
  return made;
}

}  // namespace e2e
