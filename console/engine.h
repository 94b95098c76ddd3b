// What plays, behind one seam: the player's own decoder (a child process
// that plays the player's list) or a player that already runs and keeps a
// list of its own (a music server's queue, a desktop player). The player's
// logic sends actions; what the engine learns comes back as events, which the
// main loop hands to the player's logic. An engine calls nothing above it.
#pragma once

#include <string>
#include <utility>
#include <vector>

class Child;

enum class PlayState { kStopped, kPlaying, kPaused };

struct EngineEvent {
  enum Kind {
    kReady,        // it takes actions now: a decoder started, a server reached
    kTitle,        // text: the current entry's title, composed for line 1
    kElapsed,      // seconds: played of the current entry
    kState,        // state: as the engine plays (engines with a list of their own)
    kEntry,        // entry: the current entry, 0-based (engines with a list of their own)
    kEntryEnded,   // the current entry played to its end
    kEntryFailed,  // text: why the current entry cannot be played; a kEntryEnded follows
    kNoOutput,     // text: the engine can open no sound output at all
    kVolume,       // volume: the engine's own volume, 0..100
    kAway,         // text: what is missing ("MPD not reachable", "No player")
    kNote,         // text: a line of the engine's the player echoes as it is
    kEnded,        // the engine's process ended; it wants starting again
  };
  Kind kind = kNote;
  std::string text;
  double seconds = 0;
  PlayState state = PlayState::kStopped;
  int entry = -1;
  int volume = -1;
  // kTitle of an entry without tags: the player shows the entry's file name.
  bool untagged = false;

  static EngineEvent Of(Kind kind, std::string text = std::string()) {
    EngineEvent event;
    event.kind = kind;
    event.text = std::move(text);
    return event;
  }
};
using EngineEvents = std::vector<EngineEvent>;

class Engine {
 public:
  virtual ~Engine() = default;

  // For traces: "mpg123", "mpv", "MPD", "MPRIS".
  virtual const char* Name() const = 0;
  // True when the list is the engine's: the player then follows its kEntry
  // and kState events, moves with Step and leaves it playing when it quits.
  virtual bool ListIsItsOwn() const { return false; }
  // The child process behind the engine, for the main loop's supervision, or
  // nullptr for an engine that runs none.
  virtual Child* Process() { return nullptr; }

  // Run once at start-up, after the line is open: a decoder is started, a
  // server is looked for (one that is away is no failure: it is looked for
  // again). False, with the start-up message printed, ends the player with
  // status 1.
  virtual bool Start() = 0;

  // Descriptors the main loop waits on for this engine (readable: Service is
  // due), and the milliseconds until Service is due without input (-1: none).
  virtual std::vector<int> WaitFds() const = 0;
  virtual int WaitMs() { return -1; }
  // Reads what came and runs the engine's timers; appends what it learnt.
  // Called on every pass of the main loop, so it returns at once when there
  // is nothing to do; never blocks for long: a peer that does not answer
  // counts as away.
  virtual void Service(EngineEvents& events) = 0;

  // Entry (0-based) from its start, playing.
  virtual void Load(int entry) = 0;
  // Starts or resumes what the engine has (engines with a list of their own).
  virtual void Play() {}
  // A playing entry pauses, a paused one goes on.
  virtual void TogglePause() = 0;
  virtual void Stop() = 0;
  // The jump keys: by frames of an MPEG track (1152 samples each) at the
  // current track's rate, +200 or -200; engines that seek by time alone take
  // about 5 s.
  virtual void JumpFrames(int frames) = 0;
  // To a position in the current entry, in seconds (resuming where it was).
  virtual void SeekTo(double seconds) = 0;
  // By entries of the engine's own list (engines with a list of their own);
  // false when the engine cannot step that far.
  virtual bool Step(int by) {
    (void)by;
    return false;
  }
  // The engine's own volume, 0..100; false when it has none.
  virtual bool SetVolume(int volume) {
    (void)volume;
    return false;
  }
  // The player ends: its own decoder is told to quit; a player that runs of
  // its own is left as it is.
  virtual void Quit() = 0;
};
