// What the engine reports, acted on: titles and times for the display, the
// end of an entry for the transport, the volume for the engine's mixer, and
// traces of what went wrong.
#pragma once

#include <set>
#include <string>

#include "console/engine.h"
#include "console/next.h"

struct PlayerState;
struct Transport;

// What the player knows of what plays, changed only here.
struct NowPlaying {
  std::string title;            // as the engine gave it, for the trace
  float elapsedSeconds = 0.0f;  // played of the current entry, as last reported
  // An engine started in place of one that ended: its ready report loads the
  // current entry again instead of the first.
  bool reloadOnReady = false;
  int failedInARow = 0;  // entries that could not be played since one could
  bool failedEntry = false;  // the current entry could not be played
  std::string away;          // what the engine said is missing, while it is
  std::set<std::string> notes;  // the engine's noise already echoed
};

// A new engine process replaced one that ended: what was left of the old
// one's reports is dropped, and its ready report reloads the current entry
// (paused again if it was; nothing when stopped).
void EngineRestarted(NowPlaying& now, const Transport& transport);

// Acts on one event; may end the player (the end of the last entry, or every
// entry found unplayable).
Next HandleEngineEvent(PlayerState& state, const EngineEvent& event);
