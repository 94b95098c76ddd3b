// PlayerState: the one record of the running console player, owned by the
// main process. The decoder channel, the key handling and the display read and
// change it; the platform edges (clock, mixer) hang off it so that tests can
// put fakes in their place.
#pragma once

#include <cstdint>
#include <string>

#include "console/keymap.h"
#include "console/playlist.h"
#include "link/charset.h"
#include "link/keys.h"
#include "link/link.h"
#include "link/ticker.h"

class PlayerClock;
struct Mixer;
class DecoderMixer;

// What the main loop does after a key or a decoder line. The handlers return
// it instead of ending the process themselves, so that the ending is done in
// one place, after the handler has left the state as it should be.
struct Next {
  enum Kind {
    kGoOn,
    kQuit,  // QuitPlayer: "QUIT", SIGTERM, wait, exit(status)
    kKill,  // KillPlayer: "QUIT", SIGKILL, wait, exit(0)
  };
  Kind kind = kGoOn;
  int status = 0;

  bool GoesOn() const { return kind == kGoOn; }
  static Next GoOn() { return Next(); }
  static Next Quit(int status) { return Next{kQuit, status}; }
  static Next Kill() { return Next{kKill, 0}; }
};

// A held key's frames within this of each other are one press.
constexpr uint32_t kRepeatWindowMs = 300;

constexpr size_t kTitleMax = 127;  // characters of PlayerState.title

struct PlayerState {
  Playlist playlist;
  int trackCount = 0;
  int track = 0;
  bool playing = false;
  bool paused = false;
  bool muted = false;
  uint8_t savedVolume = 0;
  SeekMode seekMode = SeekMode::kTrack;
  float elapsedSeconds = 0.0f;
  // The title as the decoder gave it, for the trace, and as the display
  // shows it: converted once, when it is set, to the display's characters.
  std::string title;
  std::string displayTitle;
  DisplayCharset displayCharset = DisplayCharset::kLatin1;
  std::string volumeBar;
  bool refreshNow = false;
  uint32_t lastRefresh = 0;

  // The main process's own open description of the line, for DisplayFrames
  // only: it stays non-blocking whatever the receiver does to its own.
  int serialFd = -1;
  // When the line has carried the last frame: a frame asked for sooner waits.
  LinePacer pacer;
  std::string serport;      // reopened when a write finds the line gone
  bool serialLost = false;
  uint32_t lastReopenTry = 0;
  int commIn = -1;
  int decoderIn = -1;
  int decoderOut = -1;

  KeyMap keys = DefaultKeys();
  RepeatFilter repeats{kRepeatWindowMs};
  TitleTicker ticker;

  // Decoder output: the unfinished line carried between reads, and the tag
  // fields collected inside an "@I {" ... "@I }" block.
  std::string lineAccumulator;
  bool inInfoBlock = false;
  std::string blockV1Line;
  std::string blockTitle, blockArtist, blockAlbum;
  // A new decoder replaces one that ended: its ready line loads the current
  // entry again instead of the first.
  bool reloadOnReady = false;

  PlayerClock* clock = nullptr;
  Mixer* mixer = nullptr;
  // The mixer when it is the decoder's own volume: its answers go there.
  DecoderMixer* decoderMixer = nullptr;
};
