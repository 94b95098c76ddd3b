// The console player's clock: the millisecond tick of the wall clock, and for
// the serial line's pace a microsecond time that only ever moves forward.
#pragma once

#include <cstdint>

#include "link/tick.h"

class PlayerClock : public Clock {
 public:
  // A frame takes its time on the line whatever the wall clock does.
  virtual uint64_t MonotonicUs() = 0;
};

// Milliseconds of the wall clock, modulo 2^32.
uint32_t GetTickCount();

class WallClock : public PlayerClock {
 public:
  uint32_t Now() override { return GetTickCount(); }
  uint64_t MonotonicUs() override;
};
