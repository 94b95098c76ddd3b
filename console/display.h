// The control unit's two lines: the moving title on line 1; on line 2 the
// volume bar right after a volume key, else the track status, then the
// seek-mode letter.
#pragma once

#include <string>

#include "console/player.h"

constexpr uint32_t kRefreshIntervalMs = 500;

// Line 2 as the next refresh would show it (status or bar, padding, letter).
std::string StatusLine(const PlayerState& state);

// Writes one DisplayFrame when refreshNow is set or more than 500 ms passed,
// and the line has carried the previous frame. A frame that must wait for the
// line goes out later with the state of that moment: requests in between merge.
void RefreshDisplay(PlayerState& state);

// Milliseconds until RefreshDisplay will write a frame (0: now), rounded up,
// so that a loop sleeping this long wakes neither early nor late.
uint32_t DisplayWaitMs(PlayerState& state);
