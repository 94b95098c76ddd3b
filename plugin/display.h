// The display half of the update thread: the status line once a second, the
// title ticker every half second, and the DisplayFrame write.
#pragma once

#include <cstdint>

#include "link/ticker.h"
#include "plugin/commands.h"

struct TickerState {
  char lastTitle[1024] = "";  // longer titles are cut to 1023 characters
  int32_t tickerOffset = 0;
  int32_t tickerStep = 1;
  uint32_t lastTickerTick = kNeverTick;
};

constexpr uint32_t kStatusPeriodMs = 1000;
constexpr uint32_t kTickerPeriodMs = kTickerStepMs;

// Play state, position and entry from the host, composed into line 2.
void StatusLine(UpdateState& state, const UpdateContext& ctx);

// Fetches the current title; moves the 16-character window when it is due.
void UpdateTicker(UpdateState& state, TickerState& ticker, const UpdateContext& ctx);

// Writes line 1 and line 2, each right-justified to 16, when a frame is asked for.
void WriteDisplay(UpdateState& state, const UpdateContext& ctx);

// One pass of the update thread after its 20 ms sleep.
void UpdatePass(UpdateState& state, TickerState& ticker, CommandQueue& queue,
                const UpdateContext& ctx);
