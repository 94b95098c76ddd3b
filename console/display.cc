#include "console/display.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "console/clock.h"
#include "console/serial.h"
#include "link/link.h"
#include "link/ticker.h"

namespace {
char ModeLetter(SeekMode mode) {
  if (mode == SeekMode::kSeek) return 'S';
  if (mode == SeekMode::kTens) return 'T';
  return ' ';
}

// Whole seconds, truncated; a value no decoder would send cannot overflow.
int WholeSeconds(float seconds) {
  if (!(seconds > 0.0f)) return 0;
  if (seconds >= static_cast<float>(INT_MAX)) return INT_MAX;
  return static_cast<int>(seconds);
}
}  // namespace

std::string StatusLine(const PlayerState& state) {
  char text[64];
  if (state.refreshNow) {
    snprintf(text, sizeof text, "%s", state.volumeBar.c_str());
  } else if (state.playing) {
    const int s = WholeSeconds(state.elapsedSeconds);
    snprintf(text, sizeof text, "Trk %d %s%d:%02d%s%s", state.track + 1,
             state.paused ? "[" : "(", s / 60, s % 60, state.paused ? "]" : ")",
             state.muted ? " M" : "");
  } else {
    snprintf(text, sizeof text, "Trk %d (stop)", state.track + 1);
  }
  std::string line(text);
  if (line.size() < 15) line.append(15 - line.size(), ' ');
  line.push_back(ModeLetter(state.seekMode));
  return line;
}

uint32_t DisplayWaitMs(PlayerState& state) {
  const uint32_t due =
      state.refreshNow ? 0 : TicksUntilDue(state.clock->Now(), state.lastRefresh, kRefreshIntervalMs);
  const uint64_t lineUs = state.pacer.WaitUs(state.clock->MonotonicUs());
  const uint32_t lineMs = static_cast<uint32_t>((lineUs + 999) / 1000);
  return due > lineMs ? due : lineMs;
}

void RefreshDisplay(PlayerState& state) {
  if (!state.refreshNow && !MoreThan(state.clock->Now(), state.lastRefresh, kRefreshIntervalMs))
    return;
  // Written now, a frame would only queue behind the last one in the driver
  // and show an older state ever later; it is composed when the line is free.
  const uint64_t nowUs = state.clock->MonotonicUs();
  if (!state.pacer.Free(nowUs)) return;
  state.lastRefresh = TickStamp(state.clock->Now());
  const std::string line1 = TitleTickerStep(state.ticker, state.displayTitle);
  const std::string line2 = StatusLine(state);
  const std::string frame = BuildDisplayFrame(line1, line2, false);
  // A short or failed write is not retried: the next refresh sends a whole
  // frame. Only a line that is gone is worth noting, to be opened again.
  const ssize_t written = write(state.serialFd, frame.data(), frame.size());
  if (written > 0) state.pacer.Sent(nowUs, static_cast<size_t>(written));
  if (written < 0 && LineGoneError(errno)) state.serialLost = true;
  state.refreshNow = false;
}
