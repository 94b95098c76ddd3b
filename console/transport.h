// Where the player is in its list and whether it plays. Keys and the
// engine's reports both move it, only through these operations, and each of
// them tells the engine what it has to do. With an engine that keeps a list
// of its own, the engine moves and the player follows its reports.
#pragma once

#include "console/engine.h"
#include "console/next.h"
#include "console/playlist.h"

struct Transport {
  Playlist playlist;
  int track = 0;         // 0-based index of the current entry
  bool playing = false;  // a track was loaded and not stopped since
  bool paused = false;   // paused; a stop sets it too
  int trackCount() const { return static_cast<int>(playlist.size()); }
};

// Loads the current entry; it then plays, not paused.
void LoadTrack(Transport& transport, Engine& engine);

// The play key: a paused track goes on, anything else loads the current entry.
void Play(Transport& transport, Engine& engine);

// The pause key pauses a playing track, or lets it go on.
void Pause(Transport& transport, Engine& engine);

// The stop key stops a playing track. A stopped player counts as paused, so
// that the end-of-track report that follows moves nothing.
void Stop(Transport& transport, Engine& engine);

// The track keys: by entries from the current one, the first below the first;
// a step past the last ends the player (KillPlayer).
Next MoveTrack(Transport& transport, Engine& engine, int by);

// The engine finished a track: the next one, or the end of the player with
// status 0 after the last. Paused or stopped, the player stays where it is.
Next TrackEnded(Transport& transport, Engine& engine);

// An engine said it is ready: the first entry, when there is one.
void StartFromTheFirst(Transport& transport, Engine& engine);

// The ready report of an engine started in place of one that ended: the
// current entry again, paused again if it was; a stopped player stays stopped.
void ReloadTrack(Transport& transport, Engine& engine);

// An engine with a list of its own reported where it is and how it plays.
void FollowEntry(Transport& transport, int entry);
void FollowState(Transport& transport, PlayState state);
