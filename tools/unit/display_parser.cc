#include "tools/unit/display_parser.h"

#include "link/link.h"

std::vector<DisplayLines> DisplayFrameParser::Feed(const uint8_t* bytes, size_t count) {
  std::vector<DisplayLines> done;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    if (b == kLine1Start) {
      if (state_ == State::kLine2 && unreported_) done.push_back(current_);
      current_ = DisplayLines{};
      state_ = State::kLine1;
      unreported_ = true;
    } else if (b == kLine2Start) {
      // Outside a frame the marker has no line 1 to belong to.
      if (state_ == State::kIdle) continue;
      current_.line2.clear();
      state_ = State::kLine2;
      unreported_ = true;
    } else if (state_ != State::kIdle) {
      std::string& line = state_ == State::kLine1 ? current_.line1 : current_.line2;
      if (line.size() < kMaxDisplayLine) {
        line.push_back(static_cast<char>(b));
        unreported_ = true;
      }
    }
  }
  return done;
}

bool DisplayFrameParser::Flush(DisplayLines& out) {
  if (state_ != State::kLine2 || !unreported_) return false;
  out = current_;
  unreported_ = false;
  return true;
}
