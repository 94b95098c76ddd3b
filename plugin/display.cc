#include "plugin/display.h"

#include <cstdio>
#include <cstring>

#include "link/link.h"
#include "link/ticker.h"

namespace {

// Copies at most cap - 1 characters of a host string; null reads as empty.
size_t CopyTitle(const char* title, char* out, size_t cap) {
  size_t n = 0;
  if (title != nullptr)
    while (n + 1 < cap && title[n] != '\0') { out[n] = title[n]; ++n; }
  out[n] = '\0';
  return n;
}

}  // namespace

void StatusLine(UpdateState& state, const UpdateContext& ctx) {
  const uint32_t now = ctx.clock.Now();
  if (!MoreThan(now, state.lastStatusTick, kStatusPeriodMs)) return;
  state.lastStatusTick = now;
  const int32_t playState = static_cast<int32_t>(ctx.host.Request(kReqIsPlaying, 0));
  const int32_t ms = static_cast<int32_t>(ctx.host.Request(kReqOutputTime, 0));
  const long long n = static_cast<long long>(static_cast<int32_t>(ctx.host.Request(kReqListPos, 0))) + 1;
  const int minutes = ms / 60000;
  const int seconds = (ms / 1000) % 60;
  if (playState == 1)
    std::snprintf(state.line2, sizeof state.line2, "Trk %lld (%d:%02d)", n, minutes, seconds);
  else if (playState == 3)
    std::snprintf(state.line2, sizeof state.line2, "Trk %lld [%d:%02d]", n, minutes, seconds);
  else
    std::snprintf(state.line2, sizeof state.line2, "Trk %lld (stop)", n);
  size_t len = std::strlen(state.line2);
  while (len < 16) state.line2[len++] = ' ';
  state.line2[len] = '\0';
  state.dirty = true;
}

void UpdateTicker(UpdateState& state, TickerState& ticker, const UpdateContext& ctx) {
  const uintptr_t entry = static_cast<uintptr_t>(static_cast<int32_t>(ctx.host.Request(kReqListPos, 0)));
  const char* hostTitle = reinterpret_cast<const char*>(ctx.host.Request(kReqEntryTitle, entry));
  char title[sizeof ticker.lastTitle];
  const size_t length = CopyTitle(hostTitle, title, sizeof title);
  if (std::strcmp(title, ticker.lastTitle) != 0) {
    // A new title starts from its beginning, shown in this very pass.
    ticker.tickerOffset = 0;
    ticker.tickerStep = 1;
    ticker.lastTickerTick = kNeverTick;
    std::memcpy(ticker.lastTitle, title, length + 1);
  }
  const uint32_t now = ctx.clock.Now();
  if (!MoreThan(now, ticker.lastTickerTick, kTickerPeriodMs)) return;
  state.dirty = true;
  ticker.lastTickerTick = TickStamp(now);
  const std::string window = TickerWindow(title, ticker.tickerOffset, false);
  CopyTitle(window.c_str(), state.line1, sizeof state.line1);
  int offset = ticker.tickerOffset, step = ticker.tickerStep;
  TickerAdvance(offset, step, static_cast<int>(length));
  ticker.tickerOffset = offset;
  ticker.tickerStep = step;
}

void WriteDisplay(UpdateState& state, const UpdateContext& ctx) {
  if (!state.dirty) return;
  state.dirty = false;
  const std::string frame = BuildDisplayFrame(state.line1, state.line2, true);
  const IoStatus written = ctx.serial.WriteFrame(frame);
  if (written != IoStatus::kDone && written != IoStatus::kStopped)
    LimitedBeep(state.beeper, ctx.alerts, ctx.clock.Now());
}

void UpdatePass(UpdateState& state, TickerState& ticker, CommandQueue& queue,
                const UpdateContext& ctx) {
  StatusLine(state, ctx);
  QueueStep(state, queue, ctx);
  DigitTimeout(state, ctx);
  UpdateTicker(state, ticker, ctx);
  WriteDisplay(state, ctx);
}
