// The first engine: the external decoder mpg123 in its remote-control mode,
// run by "sh" "-c" as the player's child, playing the player's own list.
// A decoder that cannot open any sound output does not say it is ready: it
// complains through its libraries and then hangs, spins or dies. It is told
// apart from a decoder that is only slow by those complaints.
#pragma once

#include <cstdint>
#include <string>

#include "console/children.h"
#include "console/decoder.h"
#include "console/engine.h"
#include "console/playlist.h"

class Mpg123Engine : public Engine, public Child {
 public:
  explicit Mpg123Engine(const Playlist& list) : list_(list) {}
  ~Mpg123Engine() override;

  const char* Name() const override { return "mpg123"; }
  // None once the decoder was found unable to play anything: it is not
  // started again.
  Child* Process() override { return silent_ ? nullptr : this; }
  bool Start() override;
  std::vector<int> WaitFds() const override;
  int WaitMs() override;
  void Service(EngineEvents& events) override;

  void Load(int entry) override;
  void TogglePause() override { Send("PAUSE"); }
  void Stop() override { Send("STOP"); }
  void JumpFrames(int frames) override;
  void SeekTo(double seconds) override;
  bool SetVolume(int volume) override;
  void Quit() override { Send("QUIT"); }

  // Child: a new decoder with two new pipes, so that it never reads what was
  // meant for the one before.
  void Stop(bool force) override { process_.Stop(force); }
  bool Ended() override { return process_.Ended(); }

  // The decoder's output as one read brought it (tests feed it here).
  void Feed(const char* text, size_t length, EngineEvents& events);
  // One write of the whole line (text plus line feed) to the decoder's input.
  void Send(const std::string& line);
  // Where command lines go (tests point it at a pipe of their own).
  void SetInput(int fd) {
    ClosePipes();
    input_ = fd;
    borrowed_ = true;
  }
  DecoderChannel& channel() { return channel_; }

 private:
  void ClosePipes();
  // The decoder said nothing but its libraries' complaints instead of its
  // ready line: no sound output could be opened, and it is ended for good.
  void NoOutput(EngineEvents& events);
  const Playlist& list_;
  ChildProcess process_;
  DecoderChannel channel_;
  int input_ = -1, output_ = -1;
  bool outputEnded_ = false;
  bool borrowed_ = false;  // input_ is a test's, not to be closed here
  bool ready_ = false;     // this decoder said its ready line
  bool silent_ = false;    // no sound output: nothing plays any more
  uint64_t startedMs_ = 0;
};
