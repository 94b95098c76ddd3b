// DisplayFrames read back from the bytes a host writes, as the control unit
// takes them: 0x80 begins a frame and its line 1, 0xA8 begins line 2. A frame
// carries no end of its own: it is whole when the next one begins, or when
// the reader decides that the line has gone quiet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DisplayLines {
  std::string line1;
  std::string line2;
  int64_t at = 0;  // the time, in the reader's unit, given with the bytes that brought its 0x80
  // The same text: when it came does not matter.
  bool operator==(const DisplayLines& o) const { return line1 == o.line1 && line2 == o.line2; }
};

// A line that never meets a marker stops growing here, so a host that sends
// garbage cannot make the reader eat memory.
constexpr size_t kMaxDisplayLine = 256;

class DisplayFrameReader {
 public:
  // line1Width 0: line 2 begins at the first 0xA8, as on the unit. A reader
  // that knows its host's line 1 is always that many characters wide passes
  // the width, so that a 0xA8 inside a title stays text.
  explicit DisplayFrameReader(size_t line1Width = 0) : line1Width_(line1Width) {}

  // Frames that these bytes, which came at now, complete, in order.
  std::vector<DisplayLines> Feed(const uint8_t* bytes, size_t count, int64_t now = 0);

  // The frame under way once its line 2 has begun, else null.
  const DisplayLines* Partial() const { return state_ == State::kLine2 ? &current_ : nullptr; }

  // The line has gone quiet: a frame whose line 2 has begun is taken as it
  // stands. Bytes that still follow extend it and make it due again.
  bool Flush(DisplayLines& out);

  // A frame has bytes that no Feed or Flush has reported yet.
  bool Pending() const { return unreported_; }

 private:
  enum class State { kIdle, kLine1, kLine2 };
  size_t line1Width_;
  State state_ = State::kIdle;
  DisplayLines current_;
  bool unreported_ = false;
};
