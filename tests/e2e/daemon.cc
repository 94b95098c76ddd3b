#include "daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
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
                   const std::string& logPath) {
  Stop(true);
  const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ChildSetup setup;
  setup.in = null;
  setup.out = setup.err = log;
  setup.ownGroup = true;
  const pid_t pid = child_.Start(setup);
  if (pid == 0) {
    for (const std::string& entry : env) putenv(const_cast<char*>(entry.c_str()));
    ExecOrExit(args, "fixture");
  }
  for (int fd : {log, null})
    if (fd >= 0) close(fd);
  running_ = pid > 0;
  return running_;
}

bool Daemon::Running() {
  // Ended, or reaped already by a session that cleared up after the player.
  if (running_ && (child_.Ended() || kill(child_.pid(), 0) != 0)) running_ = false;
  return running_;
}

void Daemon::Stop(bool force) {
  if (!Running()) return;
  if (force) child_.Stop(true);
  child_.StopWithin(force ? 0 : kStopGraceMs);
  running_ = false;
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
