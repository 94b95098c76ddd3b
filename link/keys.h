// IrFrames as a host takes them in: the bytes of the line paired into frames.
#pragma once

#include <cstdint>

// A lone byte waits this long for its partner before it is taken for noise.
constexpr int kPairWindowMs = 20;

// Pairs the bytes of reads into frames. The two bytes of a frame usually come
// in one read, but a driver may hand them over one by one. The frame carries
// no marker, so a stray byte is dropped by time, not by content.
struct FrameAssembler {
  bool hasLone = false;
  uint8_t lone = 0;
  uint64_t loneSince = 0;

  // Bytes the next read should ask for: never more than completes one frame.
  int Wanted() const { return hasLone ? 1 : 2; }

  // Takes the bytes of one read; true when out holds a complete frame.
  bool Take(const uint8_t* bytes, int count, uint64_t nowMs, uint8_t out[2]);

  // Drops a lone byte whose window has passed. Milliseconds until the window
  // of the lone byte ends, or -1 when none is held.
  int Expire(uint64_t nowMs);
};
