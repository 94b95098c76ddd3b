#include <gtest/gtest.h>

#include "console/children.h"
#include "fixture.h"

namespace {
struct FakeChild : Child {
  int starts = 0;
  bool startFails = false;
  bool Start() override {
    ++starts;
    return !startFails;
  }
  void Stop(bool) override {}
  bool Ended() override { return false; }
};
}  // namespace

TEST(RestartChild, ThreeRestartsThenTheFourthEndOrAFailedStartEndsThePlayer) {
  TraceCapture trace;
  FakeChild child;
  RestartBound bound;
  uint32_t now = 5000;
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(RestartChild(child, bound, "mpg123", now += 15000).GoesOn());
  const Next next = RestartChild(child, bound, "mpg123", now += 14999);
  EXPECT_EQ(next.kind, Next::kQuit);
  EXPECT_EQ(next.status, 1);
  EXPECT_EQ(child.starts, 3);
  EXPECT_EQ(trace.text,
            "mpg123 process ended, starting it again\nmpg123 process ended, starting it again\n"
            "mpg123 process ended, starting it again\nmpg123 process ended 4 times within 60 s!\n\n");
  FakeChild broken;
  broken.startFails = true;
  RestartBound fresh;
  EXPECT_EQ(RestartChild(broken, fresh, "RX", now).kind, Next::kQuit);
}

TEST(RestartBound, OnlyTheLastMinuteCountsAcrossTheTickWrap) {
  RestartBound bound;
  const uint32_t start = 0xFFFFF000u;  // 4 s before the tick wraps
  EXPECT_TRUE(bound.Take(start));
  EXPECT_TRUE(bound.Take(start + 1000));
  EXPECT_TRUE(bound.Take(start + 2000));
  EXPECT_FALSE(bound.Take(start + 59999));
  EXPECT_TRUE(bound.Take(start + 60000));  // the first has left the window
  EXPECT_FALSE(bound.Take(start + 60999));
  EXPECT_TRUE(bound.Take(start + 200000));
}
