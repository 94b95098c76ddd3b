#include "link/keys.h"

bool FrameAssembler::Take(const uint8_t* bytes, int count, uint64_t nowMs, uint8_t out[2]) {
  if (count <= 0) return false;
  if (hasLone) {
    out[0] = lone;
    out[1] = bytes[0];
    hasLone = false;
    return true;
  }
  if (count >= 2) {
    out[0] = bytes[0];
    out[1] = bytes[1];
    return true;
  }
  hasLone = true;
  lone = bytes[0];
  loneSince = nowMs;
  return false;
}

int FrameAssembler::Expire(uint64_t nowMs) {
  if (!hasLone) return -1;
  const uint64_t age = nowMs - loneSince;
  if (age >= static_cast<uint64_t>(kPairWindowMs)) {
    hasLone = false;
    return -1;
  }
  return static_cast<int>(kPairWindowMs - age);
}
