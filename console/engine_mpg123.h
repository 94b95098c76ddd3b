// The first engine: the external decoder mpg123 in its remote-control mode,
// run by "sh" "-c" as the player's child, playing the player's own list.
#pragma once

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
  Child* Process() override { return this; }
  bool Start() override;
  std::vector<int> WaitFds() const override;
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
  const Playlist& list_;
  ChildProcess process_;
  DecoderChannel channel_;
  int input_ = -1, output_ = -1;
  bool outputEnded_ = false;
  bool borrowed_ = false;  // input_ is a test's, not to be closed here
};
