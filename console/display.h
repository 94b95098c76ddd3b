// The control unit's two lines: the moving title on line 1; on line 2 the
// volume bar right after a volume key, else the track status, then the
// seek-mode letter.
#pragma once

#include <cstdint>
#include <string>

#include "link/charset.h"
#include "link/tick.h"
#include "link/ticker.h"

struct PlayerState;

// Each refresh moves the title a step.
constexpr uint32_t kRefreshIntervalMs = kTickerStepMs;
constexpr size_t kTitleMax = 127;  // characters of a title kept

// What the display shows next and when it last did, changed only here.
struct DisplayState {
  DisplayCharset charset = DisplayCharset::kLatin1;
  std::string title;  // in the display's own characters
  std::string volumeBar;
  bool refreshNow = false;  // a refresh in this pass, with the volume bar
  uint32_t lastRefresh = kNeverTick;
  TitleTicker ticker;
};

// A new title for line 1: converted whole to the display's characters, so
// that the cut to kTitleMax counts those.
void ShowTitle(DisplayState& display, const std::string& title);

// The bar of a volume, on line 2 of a refresh in this very pass.
void ShowVolume(DisplayState& display, int volume);

// Row of ">" for a volume: 16 marks at 100; volumes above 100 (the mixer is
// missing) show a full bar.
std::string VolumeBar(int volume);

// Line 2 as the next refresh would show it (status or bar, padding, letter).
std::string StatusLine(const PlayerState& state);

// Writes one DisplayFrame when refreshNow is set or more than 500 ms passed,
// and the line has carried the previous frame. A frame that must wait for the
// line goes out later with the state of that moment: requests in between merge.
void RefreshDisplay(PlayerState& state);

// Milliseconds until RefreshDisplay will write a frame (0: now), rounded up,
// so that a loop sleeping this long wakes neither early nor late.
uint32_t DisplayWaitMs(PlayerState& state);
