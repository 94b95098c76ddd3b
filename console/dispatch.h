// Remote keys: one IrFrame from the comm pipe becomes a RemoteCode, a trace
// line, a slot of the key map and, past the 300 ms repeat filter, an action.
#pragma once

#include <cstdint>
#include <string>

#include "console/player.h"

Next DispatchKey(PlayerState& state, const uint8_t frame[2]);

// The slot's action alone, without lookup or filter.
Next PerformSlot(PlayerState& state, int slot);

// Row of ">" for a volume: 16 marks at 100; volumes above 100 (the mixer is
// missing) show a full bar.
std::string VolumeBar(int volume);
