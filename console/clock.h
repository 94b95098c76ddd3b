// The free-running 32-bit millisecond tick. Intervals are later - earlier
// modulo 2^32; a start value of 0 stands for a reading long past.
#pragma once

#include <cstdint>

struct Clock {
  virtual ~Clock() = default;
  virtual uint32_t Now() = 0;
  // Microseconds that only ever move forward, for the serial line's pace: a
  // frame takes its time on the line whatever the wall clock does.
  virtual uint64_t MonotonicUs() = 0;
};

// Milliseconds of the wall clock, modulo 2^32.
uint32_t GetTickCount();

class WallClock : public Clock {
 public:
  uint32_t Now() override { return GetTickCount(); }
  uint64_t MonotonicUs() override;
};

// Milliseconds from now until a refresh due more than intervalMs after last
// (0 when already due).
inline uint32_t TicksUntilDue(uint32_t now, uint32_t last, uint32_t intervalMs) {
  const uint32_t elapsed = now - last;
  return elapsed > intervalMs ? 0 : intervalMs + 1 - elapsed;
}
