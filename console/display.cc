#include "console/display.h"

#include <climits>
#include <cstdio>

#include "console/clock.h"
#include "console/player.h"
#include "link/link.h"

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

void ShowTitle(DisplayState& display, const std::string& title) {
  display.title = ToDisplayCharset(title, display.charset);
  if (display.title.size() > kTitleMax) display.title.resize(kTitleMax);
}

void ShowVolume(DisplayState& display, int volume) {
  display.volumeBar = VolumeBar(volume);
  display.refreshNow = true;
}

std::string VolumeBar(int volume) {
  if (volume > 100) volume = 100;
  if (volume < 0) volume = 0;
  return std::string(static_cast<size_t>(volume * 16 / 100), '>');
}

std::string StatusLine(const PlayerState& state) {
  const Transport& transport = state.transport;
  char text[64];
  if (state.display.refreshNow) {
    snprintf(text, sizeof text, "%s", state.display.volumeBar.c_str());
  } else if (transport.playing) {
    const int s = WholeSeconds(state.now.elapsedSeconds);
    snprintf(text, sizeof text, "Trk %d %s%d:%02d%s%s", transport.track + 1,
             transport.paused ? "[" : "(", s / 60, s % 60, transport.paused ? "]" : ")",
             state.remote.muted ? " M" : "");
  } else {
    snprintf(text, sizeof text, "Trk %d (stop)", transport.track + 1);
  }
  std::string line(text);
  if (line.size() < 15) line.append(15 - line.size(), ' ');
  line.push_back(ModeLetter(state.remote.seekMode));
  return line;
}

uint32_t DisplayWaitMs(PlayerState& state) {
  const DisplayState& display = state.display;
  const uint32_t due = display.refreshNow
                           ? 0
                           : TicksUntilDue(state.clock->Now(), display.lastRefresh, kRefreshIntervalMs);
  const uint64_t lineUs = LineWaitUs(state.line, state.clock->MonotonicUs());
  const uint32_t lineMs = static_cast<uint32_t>((lineUs + 999) / 1000);
  return due > lineMs ? due : lineMs;
}

void RefreshDisplay(PlayerState& state) {
  DisplayState& display = state.display;
  if (!display.refreshNow && !MoreThan(state.clock->Now(), display.lastRefresh, kRefreshIntervalMs))
    return;
  // Written now, a frame would only queue behind the last one in the driver
  // and show an older state ever later; it is composed when the line is free.
  const uint64_t nowUs = state.clock->MonotonicUs();
  if (LineWaitUs(state.line, nowUs) > 0) return;
  display.lastRefresh = TickStamp(state.clock->Now());
  const std::string line1 = TitleTickerStep(display.ticker, display.title);
  const std::string line2 = StatusLine(state);
  WriteFrame(state.line, BuildDisplayFrame(line1, line2, false), nowUs);
  display.refreshNow = false;
}
