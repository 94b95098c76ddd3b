// Resume: where the player was (entry, position, playing, paused or
// stopped, volume and mute), kept in a state file so that a restart or a
// power cut carries on there. The file is always written whole, beside its
// place and renamed over it, so that it holds the old state or the new one,
// never a mix; a checksum line tells a whole file from one cut short.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "console/engine.h"
#include "console/playlist.h"

struct PlayPoint {
  std::string list;  // ListIdentity of the list it belongs to
  int entry = 0;     // 0-based
  std::string path;  // the entry's path, to find it again in a list that grew
  double position = 0;
  PlayState state = PlayState::kStopped;
  int volume = -1;  // 0..100; -1: not kept
  bool muted = false;
  int savedVolume = 0;  // the volume to come back to, while muted

  bool SameButPosition(const PlayPoint& other) const;
};

// What the list was made from: the folder scanned, or the arguments in their
// order. A folder whose tracks change stays the same list, and its entry is
// then found by its path.
std::string ListIdentity(const std::vector<std::string>& arguments, bool recursive);

std::string FormatPlayPoint(const PlayPoint& point);
// False when the text is no whole state (empty, cut short, garbage).
bool ParsePlayPoint(const std::string& text, PlayPoint& point);

// The entry to resume in list: the saved path, else the saved index; -1 when
// the point belongs to another list or names no entry of it.
int ResumeEntry(const PlayPoint& point, const std::string& identity, const Playlist& list);

// Where the state lives; a fake in tests.
class StateStore {
 public:
  virtual ~StateStore() = default;
  enum Read { kNone, kRead, kFailed };
  // kNone when there is no file; kFailed with why when it cannot be read.
  virtual Read Load(std::string& text, std::string& why) = 0;
  // Replaces the state whole; false with why when it cannot.
  virtual bool Save(const std::string& text, std::string& why) = 0;
};

// A file: written as a new file beside it (exclusive, not through a link),
// synced, renamed over it, and the folder synced. A directory in its place
// that is empty is replaced as well.
class StateFile : public StateStore {
 public:
  explicit StateFile(std::string path) : path_(std::move(path)) {}
  Read Load(std::string& text, std::string& why) override;
  bool Save(const std::string& text, std::string& why) override;

 private:
  std::string path_;
};

// A position is written at least this often while playing.
constexpr uint32_t kResumeEveryMs = 10000;

// When the state is written, and what a start-up resumes.
class ResumeKeeper {
 public:
  ResumeKeeper(StateStore& store, std::string identity)
      : store_(store), identity_(std::move(identity)) {}

  // At start-up: true with the point to resume in list; false (a trace line
  // when the file made no sense) to start from the first entry.
  bool Resume(const Playlist& list, PlayPoint& point, int& entry);

  // Once a pass with where the player is now: written when anything but the
  // position changed, and every kResumeEveryMs while playing. A position from
  // before the current entry's first report counts as 0; after a resume, as
  // the saved one until the seek has landed.
  void Note(PlayPoint now, uint32_t nowMs);
  // At the end, whatever changed.
  void Final(PlayPoint now);

 private:
  void Write(PlayPoint point, uint32_t nowMs);
  void SettlePosition(PlayPoint& now, uint32_t nowMs);

  StateStore& store_;
  std::string identity_;
  bool written_ = false;
  PlayPoint last_;
  uint32_t lastMs_ = 0;
  bool failing_ = false;  // a failed write was traced; the next success is
  // The stale position the current entry started with, until it moves.
  double staleFrom_ = -1;
  int staleEntry_ = -1;
  // After a resume: the saved position, until the player's reaches it.
  bool holding_ = false;
  double held_ = 0;
  uint32_t heldSinceMs_ = 0;
};
