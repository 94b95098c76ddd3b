// A program a fixture starts beside the player (a music server, a session
// bus, a desktop player) and ends however the test ends: it dies with this
// process, and the object's end stops and reaps it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "posix/child.h"
#include "tests/support/proc.h"

namespace e2e {

class Daemon {
 public:
  Daemon() = default;
  ~Daemon() { Stop(); }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // Runs args with env ("NAME=value") over this process's environment, its
  // output and errors appended to logPath. False when it cannot be started.
  bool Start(const std::vector<std::string>& args, const std::vector<std::string>& env,
             const std::string& logPath);
  // SIGTERM, then SIGKILL when it has not ended within a few seconds; or
  // SIGKILL at once. Reaped either way.
  void Stop(bool force = false);
  // Still running (not ended, nor reaped by someone else).
  bool Running();
  pid_t pid() const { return child_.pid(); }

 private:
  ChildProcess child_;
  bool running_ = false;
};

// seconds of silence as an MP3 file at path, tagged by lame's tagOptions
// ("--tt Title --ta Artist"); false when the encoder failed.
bool WriteSilentMp3(const std::string& path, double seconds, const std::string& tagOptions);

}  // namespace e2e
