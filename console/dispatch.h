// Remote keys: one IrFrame from the comm pipe becomes a RemoteCode, a trace
// line, a slot of the key map and, past the 300 ms repeat filter, an action.
#pragma once

#include <cstdint>

#include "posix/keymap.h"
#include "console/next.h"
#include "link/keys.h"

struct PlayerState;

// What the key handling keeps from one key to the next, changed only here.
struct KeyState {
  KeyMap keys = DefaultKeys();
  RepeatFilter repeats{kRepeatWindowMs};
  SeekMode seekMode = SeekMode::kTrack;
  bool muted = false;
  uint8_t savedVolume = 0;  // the volume before the mute, while muted
};

Next DispatchKey(PlayerState& state, const uint8_t frame[2]);
