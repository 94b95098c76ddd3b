// The player's two child processes, the receiver and the decoder, behind one
// small interface; and what the main loop does when one of them ends while
// the player runs: it is started again, a few times.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "console/next.h"

class Child {
 public:
  virtual ~Child() = default;
  // Starts the process, first ending and reaping what is left of an earlier
  // one. False, with its start-up message printed, when it cannot be started.
  virtual bool Start() = 0;
  // Asks the process to end (SIGTERM), or, forced, ends it and everything it
  // started at once (SIGKILL).
  virtual void Stop(bool force) = 0;
  // Reaps the process if it has ended; true once it is gone.
  virtual bool Ended() = 0;
};

// A child that keeps ending is not started for ever: a fourth end within a
// minute ends the player.
constexpr int kMaxRestarts = 3;
constexpr uint32_t kRestartWindowMs = 60000;

class RestartBound {
 public:
  // True, counting it, when one more restart at nowMs stays within the bound.
  bool Take(uint32_t nowMs);

 private:
  uint32_t starts_[kMaxRestarts] = {};
  int count_ = 0;
};

// A child found ended: traced, and started again within its bound. Past the
// bound, or when it cannot be started, the player ends with status 1.
Next RestartChild(Child& child, RestartBound& bound, const char* name, uint32_t nowMs);

// The child processes of the real player. Each one asks for SIGKILL when the
// player dies, and keeps only the descriptors it uses.
class ChildProcess : public Child {
 public:
  void Stop(bool force) override;
  bool Ended() override;

 protected:
  // Forks, ending and reaping an earlier process first. In the child (result
  // 0) only 0, 1, 2 and keep stay open, with the signals reset; in the
  // player the child's pid, or -1.
  pid_t Fork(bool ownGroup, int keepA, int keepB);

 private:
  pid_t pid_ = -1;
  bool ownGroup_ = false;
  bool ended_ = false;
};

// The receiver: the serial line's input turned into records on the comm
// pipe. The pipe and the receiver's description of the line live as long as
// the player, so that a new receiver takes up where the last one ended.
class ReceiverProcess : public ChildProcess {
 public:
  // Takes over lineFd (the description the receiver makes its own).
  ReceiverProcess(int lineFd, std::string serport);
  ~ReceiverProcess() override;
  // Creates the comm pipe once; false with its message when it cannot.
  bool CreatePipe();
  int commIn() const { return commIn_; }
  bool Start() override;

 private:
  int lineFd_;
  std::string serport_;
  int commIn_ = -1, commOut_ = -1;
};

// The decoder: "sh" "-c" running mpg123 in its remote-control mode, in a
// process group of its own. Each start gets two new pipes, so that a new
// decoder never reads what was meant for the one before.
class DecoderProcess : public ChildProcess {
 public:
  ~DecoderProcess() override;
  bool Start() override;
  int input() const { return input_; }    // command lines to the decoder
  int output() const { return output_; }  // its standard output and error

 private:
  void ClosePipes();
  int input_ = -1, output_ = -1;
};

// In the decoder's process, before it runs: a UTF-8 character type when the
// environment gives none (LC_ALL, else LC_CTYPE, else LANG decides), so that
// tags reach the player whole instead of as '?' in the C locale of a system
// service. The other categories keep what the player was given.
void UseUtf8CharacterType();

// True when a program of this name can be run through the search path, as
// the shell would find it.
bool FoundInPath(const std::string& program);
