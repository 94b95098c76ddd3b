#include "link/keys.h"

#include "link/tick.h"

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

bool RepeatFilter::Acts(uint32_t key, uint32_t now, HeldKey held) {
  const bool within = last_tick != kNeverTick && now - last_tick < windowMs;
  const bool repeat = within && key == last_command;
  // Such a key keeps its window running from when it last acted.
  if (repeat && held == HeldKey::kEveryWindow) return false;
  last_tick = now;
  last_command = key;
  return !repeat || held == HeldKey::kEveryFrame;
}
