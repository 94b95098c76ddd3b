// The free-running 32-bit millisecond tick both deliverables read. An interval
// is the later reading minus the earlier one modulo 2^32, so a wrap of the
// counter costs nothing; a reading of 0 kept for a past event stands for one
// long past, so that the first test after start fires at once.
#pragma once

#include <cstdint>

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t Now() = 0;
};

constexpr uint32_t kNeverTick = 0;

// More than ms have passed since last, or last never happened.
inline bool MoreThan(uint32_t now, uint32_t last, uint32_t ms) {
  return last == kNeverTick || now - last > ms;
}

// The reading to keep as the time of an event: never 0, which means never.
inline uint32_t TickStamp(uint32_t now) { return now == kNeverTick ? 1 : now; }

// Milliseconds from now until more than intervalMs will have passed since
// last (0 when that is already so), for a loop that sleeps until then.
inline uint32_t TicksUntilDue(uint32_t now, uint32_t last, uint32_t intervalMs) {
  if (MoreThan(now, last, intervalMs)) return 0;
  return intervalMs + 1 - (now - last);
}
