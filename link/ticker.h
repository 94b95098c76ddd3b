// The title ticker: a 16-character window that moves back and forth across a
// title longer than the display, pausing one step at each end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Both programs move a title one step every half second.
constexpr uint32_t kTickerStepMs = 500;

// One move of the window start and the corrections at both ends. For titles of
// 16 characters or fewer the offset always comes back to 0.
void TickerAdvance(int& offset, int& step, int titleLength);

// At most 16 characters of title from offset; with pad, filled with spaces to 16.
std::string TickerWindow(std::string_view title, int offset, bool pad);

// The console player's ticker: window taken before the move, reset when the
// title changes, moves only for titles longer than 16 characters.
struct TitleTicker {
  std::string oldtitle;  // at most kOldTitleMax characters are remembered
  int offset = 0;
  int incoffs = 1;
  static constexpr size_t kOldTitleMax = 127;
};

// Returns the 16-character window for display line 1 and advances the ticker.
std::string TitleTickerStep(TitleTicker& ticker, std::string_view title);
