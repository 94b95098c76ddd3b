// The control unit's two lines: the moving title on line 1; on line 2 the
// volume bar right after a volume key, else the track status, then the
// seek-mode letter.
#pragma once

#include <string>

#include "console/player.h"

constexpr uint32_t kRefreshIntervalMs = 500;

// Line 2 as the next refresh would show it (status or bar, padding, letter).
std::string StatusLine(const PlayerState& state);

// Writes one DisplayFrame when refreshNow is set or more than 500 ms passed.
void RefreshDisplay(PlayerState& state);
