// Room for a newcomer when a kind of client is full, and refusals said at
// most once a second.
#include <gtest/gtest.h>

#include "bridge/admission.h"

namespace {

Seat At(int id, uint64_t sinceMs, bool active = false, bool unread = false) {
  Seat seat;
  seat.id = id;
  seat.sinceMs = sinceMs;
  seat.active = active;
  seat.unread = unread;
  return seat;
}

TEST(FindRoom, IdleClientsPastTheirGraceMakeRoomOldestFirst) {
  const uint64_t now = 100000;
  EXPECT_EQ(FindRoom({At(1, 0)}, 2, now).kind, Room::kFree);

  // The oldest is active and keeps its place; of the idle ones the oldest goes.
  const std::vector<Seat> full = {At(1, 0, true), At(2, now - 5000), At(3, now - 9000),
                                  At(4, now - 100)};
  Room room = FindRoom(full, 4, now);
  EXPECT_EQ(room.kind, Room::kMake);
  EXPECT_EQ(room.evict, 3);

  // Idle but young: the newcomer waits for the first grace to end.
  room = FindRoom({At(1, 0, true), At(2, now - 1000), At(3, now - 2500)}, 3, now);
  EXPECT_EQ(room.kind, Room::kWait);
  EXPECT_EQ(room.waitMs, kIdleGraceMs - 2500);

  // One that leaves its keys unread goes at once, however young.
  room = FindRoom({At(1, 0, true), At(2, now - 10), At(3, now - 20, true, true)}, 3, now);
  EXPECT_EQ(room.kind, Room::kMake);
  EXPECT_EQ(room.evict, 3);

  EXPECT_EQ(FindRoom({At(1, 0, true), At(2, 5, true)}, 2, now).kind, Room::kNone);
}

TEST(TraceLimit, OneLineASecondCountingWhatItHeldBack) {
  TraceLimit limit;
  size_t count = 0;
  EXPECT_TRUE(limit.Note(1000, count));
  EXPECT_EQ(count, 1u);
  for (uint64_t ms = 1001; ms < 2000; ms += 10) EXPECT_FALSE(limit.Note(ms, count));
  EXPECT_TRUE(limit.Note(2000, count));
  EXPECT_EQ(count, 101u);
}

}  // namespace
