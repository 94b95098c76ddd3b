#include "link/ticker.h"

#include "link/link.h"

void TickerAdvance(int& offset, int& step, int titleLength) {
  offset += step;
  if (offset > titleLength - kDisplayWidth) {
    step = -1;
    offset = titleLength - kDisplayWidth;
  }
  if (offset < 0) {
    offset = 0;
    step = 1;
  }
}

std::string TickerWindow(std::string_view title, int offset, bool pad) {
  std::string window;
  if (offset >= 0 && static_cast<size_t>(offset) < title.size())
    window = std::string(title.substr(static_cast<size_t>(offset), kDisplayWidth));
  if (pad && window.size() < static_cast<size_t>(kDisplayWidth))
    window.append(kDisplayWidth - window.size(), ' ');
  return window;
}

std::string TitleTickerStep(TitleTicker& ticker, std::string_view title) {
  if (title.size() > TitleTicker::kOldTitleMax)
    title = title.substr(0, TitleTicker::kOldTitleMax);
  if (title != ticker.oldtitle) {
    ticker.offset = 0;
    ticker.incoffs = 1;
    ticker.oldtitle.assign(title);
  }
  std::string window = TickerWindow(title, ticker.offset, true);
  const int length = static_cast<int>(title.size());
  if (length > kDisplayWidth) TickerAdvance(ticker.offset, ticker.incoffs, length);
  return window;
}
