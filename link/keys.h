// IrFrames as a host takes them in: the bytes of the line paired into frames,
// and a key held down told from a new press.
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

// How a key held down acts while its frames keep coming.
enum class HeldKey {
  kOnce,         // every frame within the window restarts it: one action however long
  kEveryWindow,  // acts again whenever the window has passed since it last acted
  kEveryFrame,   // acts on every frame (volume steps)
};

// The hosts debounce a held key by time windows, not by the RC-5 toggle bit: a
// frame within the window of the last one is the same press.
struct RepeatFilter {
  explicit RepeatFilter(uint32_t windowMs) : windowMs(windowMs) {}

  // Whether the frame of key that came at tick now acts. A frame of another
  // key is a new press; a host that takes every frame within the window for
  // the same press gives every frame the same key.
  bool Acts(uint32_t key, uint32_t now, HeldKey held);

  uint32_t windowMs;
  uint32_t last_tick = 0;  // of the last frame that restarted the window; 0: none yet
  uint32_t last_command = 0;
};
