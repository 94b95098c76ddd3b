// Keys from the receiver thread to the update thread: a ring with one writer and
// one reader and no lock. The writer fills a slot before it publishes the new
// writeIndex (release); the reader sees the slot once it sees the index
// (acquire), and hands the slot back only after the key has been handled.
#pragma once

#include <atomic>
#include <cstdint>

struct QueueEntry {
  uint8_t command = 0;
  uint8_t system = 0;
  uint32_t tick = 0;
};

struct CommandQueue {
  static constexpr uint32_t kSlots = 32;
  QueueEntry slots[kSlots];
  std::atomic<uint32_t> writeIndex{0};
  std::atomic<uint32_t> readIndex{0};
};

inline uint32_t NextSlot(uint32_t index) { return index == CommandQueue::kSlots - 1 ? 0 : index + 1; }

// Writer side. A full ring keeps its keys and refuses the new one: letting the
// write index catch up with the read index would make all 32 look like none.
inline bool QueuePush(CommandQueue& q, const QueueEntry& entry) {
  const uint32_t w = q.writeIndex.load(std::memory_order_relaxed);
  const uint32_t next = NextSlot(w);
  if (next == q.readIndex.load(std::memory_order_acquire)) return false;
  q.slots[w] = entry;
  q.writeIndex.store(next, std::memory_order_release);
  return true;
}

// Reader side: look at the oldest key without giving its slot back.
inline bool QueueFront(const CommandQueue& q, QueueEntry& entry) {
  const uint32_t r = q.readIndex.load(std::memory_order_relaxed);
  if (r == q.writeIndex.load(std::memory_order_acquire)) return false;
  entry = q.slots[r];
  return true;
}

inline void QueuePop(CommandQueue& q) {
  const uint32_t r = q.readIndex.load(std::memory_order_relaxed);
  q.readIndex.store(NextSlot(r), std::memory_order_release);
}
