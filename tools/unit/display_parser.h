// Reassembles DisplayFrames from the byte stream the host writes: a frame may
// arrive in pieces or together with the next one, and carries no terminator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DisplayLines {
  std::string line1;
  std::string line2;
  bool operator==(const DisplayLines& o) const { return line1 == o.line1 && line2 == o.line2; }
};

// A line that never meets a marker stops growing here, so a host that sends
// garbage cannot make the emulator eat memory.
constexpr size_t kMaxDisplayLine = 256;

class DisplayFrameParser {
 public:
  // Frames that these bytes complete, in order. A frame is complete when the
  // 0x80 of the next one arrives; the last one waits for Flush.
  std::vector<DisplayLines> Feed(const uint8_t* bytes, size_t count);

  // The line has gone quiet: a frame whose line 2 has begun is taken as it
  // stands. Bytes that still follow extend it and make it due again.
  bool Flush(DisplayLines& out);

  // A frame has bytes that no Feed or Flush has reported yet.
  bool Pending() const { return unreported_; }

 private:
  enum class State { kIdle, kLine1, kLine2 };
  State state_ = State::kIdle;
  DisplayLines current_;
  bool unreported_ = false;
};
