#include "console/clock.h"

#include <sys/time.h>

#include "posix/posix.h"

uint32_t GetTickCount() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<uint32_t>(static_cast<uint64_t>(tv.tv_sec) * 1000u +
                               static_cast<uint64_t>(tv.tv_usec) / 1000u);
}

uint64_t WallClock::MonotonicUs() { return ::MonotonicUs(); }
