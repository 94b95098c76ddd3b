// The mpv engine: Debian's mpv as the player's child, driven through its JSON
// IPC on one end of a socket pair that only the player and that child hold
// (no socket path another user could open). mpv reads none of the user's
// configuration, opens no window and no terminal, and plays the player's
// list one entry at a time.
#pragma once

#include <string>
#include <vector>

#include "console/children.h"
#include "console/engine.h"
#include "console/mpv_channel.h"
#include "console/playlist.h"

// The mpv process; each start gets a new socket pair, so that a new mpv never
// reads what was meant for the one before.
class MpvProcess : public ChildProcess {
 public:
  ~MpvProcess() override;
  bool Start() override;
  int channel() const { return channel_; }  // the player's end, non-blocking
  int starts() const { return starts_; }

 private:
  void CloseChannel();
  int channel_ = -1;
  int starts_ = 0;
};

// mpv's command line after the program name, the channel on descriptor fd.
std::vector<std::string> MpvArguments(int fd);

class MpvEngine : public Engine {
 public:
  explicit MpvEngine(const Playlist& list) : list_(list) {}

  const char* Name() const override { return "mpv"; }
  Child* Process() override { return &process_; }
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

 private:
  void Send(const std::string& lines);
  void Flush();
  void TakeNewProcess();

  const Playlist& list_;
  MpvProcess process_;
  MpvChannel channel_;
  int seenStarts_ = 0;
  bool open_ = false;  // the channel of the current mpv has not ended
  std::string pending_;  // command bytes the socket had no room for yet
};
