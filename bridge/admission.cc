#include "bridge/admission.h"

Room FindRoom(const std::vector<Seat>& seats, size_t max, uint64_t nowMs) {
  Room room;
  if (seats.size() < max) return room;
  const Seat* oldest = nullptr;
  uint64_t soonest = UINT64_MAX;
  for (const Seat& seat : seats) {
    if (seat.active && !seat.unread) continue;
    const uint64_t graceEnd = seat.sinceMs + kIdleGraceMs;
    if (seat.unread || nowMs >= graceEnd) {
      if (!oldest || seat.sinceMs < oldest->sinceMs) oldest = &seat;
    } else if (graceEnd - nowMs < soonest) {
      soonest = graceEnd - nowMs;
    }
  }
  if (oldest) {
    room.kind = Room::kMake;
    room.evict = oldest->id;
  } else if (soonest != UINT64_MAX) {
    room.kind = Room::kWait;
    room.waitMs = soonest;
  } else {
    room.kind = Room::kNone;
  }
  return room;
}

bool TraceLimit::Note(uint64_t nowMs, size_t& count) {
  ++held_;
  if (said_ && nowMs - lastMs_ < 1000) return false;
  said_ = true;
  lastMs_ = nowMs;
  count = held_;
  held_ = 0;
  return true;
}
