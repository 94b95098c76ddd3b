// Where the player is in its play list and whether it plays. Keys and the
// decoder's reports both move it, only through these operations, and each of
// them tells the decoder what it has to do.
#pragma once

#include "console/next.h"
#include "console/playlist.h"

struct DecoderChannel;

struct Transport {
  Playlist playlist;
  int track = 0;         // 0-based index of the current entry
  bool playing = false;  // a track was loaded and not stopped since
  bool paused = false;   // paused; a stop sets it too
  int trackCount() const { return static_cast<int>(playlist.size()); }
};

// "LOAD <entry>" for the current track; it then plays, not paused.
void LoadTrack(Transport& transport, DecoderChannel& decoder);

// The play key: a paused track goes on, anything else loads the current entry.
void Play(Transport& transport, DecoderChannel& decoder);

// The pause key pauses a playing track, or lets it go on.
void Pause(Transport& transport, DecoderChannel& decoder);

// The stop key stops a playing track. A stopped player counts as paused, so
// that the decoder's end-of-track report that follows moves nothing.
void Stop(Transport& transport, DecoderChannel& decoder);

// The track keys: by entries from the current one, the first below the first;
// a step past the last ends the player (KillPlayer).
Next MoveTrack(Transport& transport, DecoderChannel& decoder, int by);

// The decoder finished a track: the next one, or the end of the player with
// status 0 after the last. Paused or stopped, the player stays where it is.
Next TrackEnded(Transport& transport, DecoderChannel& decoder);

// A decoder said it is ready: the first entry, when there is one.
void StartFromTheFirst(Transport& transport, DecoderChannel& decoder);

// The ready line of a decoder started in place of one that ended: the current
// entry again, paused again if it was; a stopped player stays stopped.
void ReloadTrack(Transport& transport, DecoderChannel& decoder);
