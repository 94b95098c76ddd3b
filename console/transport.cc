#include "console/transport.h"

#include "posix/trace.h"

void LoadTrack(Transport& transport, Engine& engine) {
  if (transport.track >= 0 && transport.track < transport.trackCount()) engine.Load(transport.track);
  transport.playing = true;
  transport.paused = false;
}

void Play(Transport& transport, Engine& engine) {
  if (transport.paused && transport.playing) {
    transport.paused = false;
    engine.TogglePause();
  } else if (engine.ListIsItsOwn()) {
    engine.Play();
  } else {
    LoadTrack(transport, engine);
  }
}

void Pause(Transport& transport, Engine& engine) {
  if (!transport.playing) return;
  transport.paused = !transport.paused;
  engine.TogglePause();
}

void Stop(Transport& transport, Engine& engine) {
  if (!transport.playing) return;
  transport.playing = false;
  transport.paused = true;
  engine.Stop();
}

Next MoveTrack(Transport& transport, Engine& engine, int by) {
  if (engine.ListIsItsOwn()) {
    if (!engine.Step(by)) Trace("%s: no step of %+d entries there\n", engine.Name(), by);
    return Next::GoOn();
  }
  transport.track += by;
  if (transport.track >= transport.trackCount()) return Next::Kill();
  if (transport.track < 0) transport.track = 0;
  LoadTrack(transport, engine);
  return Next::GoOn();
}

Next TrackEnded(Transport& transport, Engine& engine) {
  if (transport.paused || engine.ListIsItsOwn()) return Next::GoOn();
  transport.track += 1;
  if (transport.track >= transport.trackCount()) return Next::Quit(0);
  LoadTrack(transport, engine);
  return Next::GoOn();
}

void StartFromTheFirst(Transport& transport, Engine& engine) {
  if (engine.ListIsItsOwn()) return;
  transport.track = 0;
  // With nothing to play the player waits for keys instead.
  if (transport.trackCount() > 0) LoadTrack(transport, engine);
}

void ReloadTrack(Transport& transport, Engine& engine) {
  if (!transport.playing || engine.ListIsItsOwn()) return;
  const bool paused = transport.paused;
  LoadTrack(transport, engine);
  if (paused) {
    engine.TogglePause();
    transport.paused = true;
  }
}

void FollowEntry(Transport& transport, int entry) {
  if (entry >= 0) transport.track = entry;
}

void FollowState(Transport& transport, PlayState state) {
  transport.playing = state != PlayState::kStopped;
  transport.paused = state != PlayState::kPlaying;
}
