#include "link/display_reader.h"

#include "link/link.h"

std::vector<DisplayLines> DisplayFrameReader::Feed(const uint8_t* bytes, size_t count,
                                                   int64_t now) {
  std::vector<DisplayLines> done;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    if (b == kLine1Start) {
      if (state_ == State::kLine2 && unreported_) done.push_back(current_);
      current_ = DisplayLines{};
      current_.at = now;
      state_ = State::kLine1;
      unreported_ = true;
    } else if (state_ == State::kIdle) {
      // Outside a frame a byte, a line-2 marker too, has no line to belong to.
    } else if (b == kLine2Start &&
               (state_ == State::kLine2 || current_.line1.size() >= line1Width_)) {
      current_.line2.clear();
      state_ = State::kLine2;
      unreported_ = true;
    } else {
      std::string& line = state_ == State::kLine1 ? current_.line1 : current_.line2;
      if (line.size() < kMaxDisplayLine) {
        line.push_back(static_cast<char>(b));
        unreported_ = true;
      }
    }
  }
  return done;
}

bool DisplayFrameReader::Flush(DisplayLines& out) {
  if (state_ != State::kLine2 || !unreported_) return false;
  out = current_;
  unreported_ = false;
  return true;
}
