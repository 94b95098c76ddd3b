// The player's child processes, the receiver and a decoder, behind one small
// interface; and what the main loop does when one of them ends while
// the player runs: it is started again, a few times.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "console/next.h"
#include "posix/child.h"

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

// The receiver: the serial line's input turned into records on the comm
// pipe. The pipe and the receiver's description of the line live as long as
// the player, so that a new receiver takes up where the last one ended.
class ReceiverProcess : public Child {
 public:
  // Takes over lineFd (the description the receiver makes its own).
  ReceiverProcess(int lineFd, std::string serport);
  ~ReceiverProcess() override;
  // Creates the comm pipe once; false with its message when it cannot.
  bool CreatePipe();
  int commIn() const { return commIn_; }
  bool Start() override;
  void Stop(bool force) override { process_.Stop(force); }
  bool Ended() override { return process_.Ended(); }

 private:
  ChildProcess process_;
  int lineFd_;
  std::string serport_;
  int commIn_ = -1, commOut_ = -1;
};

// In the decoder's process, before it runs: a UTF-8 character type when the
// environment gives none (LC_ALL, else LC_CTYPE, else LANG decides), so that
// tags reach the player whole instead of as '?' in the C locale of a system
// service. The other categories keep what the player was given.
void UseUtf8CharacterType();

