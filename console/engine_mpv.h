// The mpv engine: Debian's mpv as the player's child, driven through its JSON
// IPC on one end of a socket pair that only the player and that child hold
// (no socket path another user could open). mpv reads none of the user's
// configuration, opens no window and no terminal, and plays the player's
// list one entry at a time.
#pragma once

#include <string>
#include <vector>

#include "console/children.h"
#include "posix/child.h"
#include "console/engine.h"
#include "console/mpv_channel.h"
#include "console/playlist.h"

// mpv's command line after the program name, the channel on descriptor fd.
std::vector<std::string> MpvArguments(int fd);

class MpvEngine : public Engine, public Child {
 public:
  explicit MpvEngine(const Playlist& list) : list_(list) {}
  ~MpvEngine() override;

  const char* Name() const override { return "mpv"; }
  Child* Process() override { return this; }
  // Engine and Child: a new mpv on a new socket pair, so that it never reads
  // what was meant for the one before.
  bool Start() override;
  std::vector<int> WaitFds() const override;
  int WaitMs() override;
  void Service(EngineEvents& events) override;
  void Load(int entry) override;
  void TogglePause() override;
  void Stop() override;
  void JumpFrames(int frames) override;
  void SeekTo(double seconds) override;
  bool SetVolume(int volume) override;
  void Quit() override;

  void Stop(bool force) override { process_.Stop(force); }
  bool Ended() override { return process_.Ended(); }

 private:
  void Send(const std::string& lines);
  void Flush();
  void CloseChannel();

  const Playlist& list_;
  ChildProcess process_;
  MpvChannel channel_;
  int fd_ = -1;        // the player's end of the channel, non-blocking
  bool open_ = false;  // the channel of the current mpv has not ended
  std::string pending_;  // command bytes the socket had no room for yet
};
