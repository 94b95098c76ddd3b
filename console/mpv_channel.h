// The mpv engine's protocol, without I/O: the JSON lines of mpv's IPC turned
// into engine events, and the engine's actions into command lines. Each
// command carries a request id, so that the reply to a loadfile names the
// entry whose end-file events count; the ends of entries replaced before
// (reason "stop") and of earlier ones still on their way are not taken for
// the end of the current one.
#pragma once

#include <cstddef>
#include <string>

#include "console/engine.h"

class MpvChannel {
 public:
  // A new mpv behind a new channel: what the old one left half said is gone,
  // and the lines returned observe what the engine reports on.
  std::string Begin();

  // Each returns the command lines to write, line feeds included.
  std::string Load(const std::string& path);
  std::string TogglePause();
  std::string Stop();
  // By frames of 1152 samples at the current track's sample rate (44.1 kHz
  // until mpv reports one).
  std::string JumpFrames(int frames);
  // To seconds from the start; before the current entry is loaded, the seek
  // waits for it (the lines then come out of Feed).
  std::string SeekTo(double seconds);
  std::string SetVolume(int volume);
  std::string Quit();

  // Bytes that came from mpv: complete lines become events; command lines
  // that were waiting for an event are appended to out.
  void Feed(const char* data, size_t length, EngineEvents& events, std::string& out);

  // A line longer than this is dropped (its end is waited for, not read).
  static constexpr size_t kMaxLine = 1 << 16;

 private:
  std::string Command(const std::string& arguments);
  void HandleLine(const std::string& line, EngineEvents& events, std::string& out);

  std::string partial_;
  bool dropping_ = false;
  bool ready_ = false;
  long nextRequest_ = 1;
  long loadRequest_ = 0;    // the loadfile whose reply is awaited, or 0
  static constexpr long kNextStarted = -2;
  long entryId_ = -1;       // mpv's id of the current entry, or kNextStarted
  bool loaded_ = false;     // the current entry's file is loaded
  bool seekPending_ = false;
  double pendingSeek_ = 0;
  long lastWholeSecond_ = -1;
  int sampleRate_ = 44100;
};

// A JSON string literal of text, quotes included.
std::string JsonString(const std::string& text);
