#include "console/children.h"

#include "posix/trace.h"

bool RestartBound::Take(uint32_t nowMs) {
  int kept = 0;
  for (int i = 0; i < count_; ++i)
    if (nowMs - starts_[i] < kRestartWindowMs) starts_[kept++] = starts_[i];
  count_ = kept;
  if (count_ >= kMaxRestarts) return false;
  starts_[count_++] = nowMs;
  return true;
}

Next RestartChild(Child& child, RestartBound& bound, const char* name, uint32_t nowMs) {
  if (!bound.Take(nowMs)) {
    Trace("%s process ended %d times within %u s!\n\n", name, kMaxRestarts + 1,
          kRestartWindowMs / 1000);
    return Next::Quit(1);
  }
  Trace("%s process ended, starting it again\n", name);
  if (!child.Start()) return Next::Quit(1);
  return Next::GoOn();
}
