#include <gtest/gtest.h>

#include "link/keys.h"

TEST(FrameAssembler, PairsBytesWithinTheWindow) {
  FrameAssembler a;
  uint8_t out[2] = {0, 0};
  const uint8_t both[2] = {0x0C, 0x35};
  EXPECT_TRUE(a.Take(both, 2, 1000, out));
  EXPECT_EQ(out[0], 0x0C);
  EXPECT_EQ(out[1], 0x35);
  EXPECT_EQ(a.Wanted(), 2);

  const uint8_t first = 0x30, second = 0x35;
  EXPECT_FALSE(a.Take(&first, 1, 2000, out));
  EXPECT_EQ(a.Wanted(), 1);
  EXPECT_EQ(a.Expire(2005), 15);
  EXPECT_TRUE(a.Take(&second, 1, 2005, out));
  EXPECT_EQ(out[0], 0x30);
  EXPECT_EQ(out[1], 0x35);
}

TEST(FrameAssembler, StrayByteIsDroppedAndAlignmentReturns) {
  FrameAssembler a;
  uint8_t out[2];
  const uint8_t stray = 0xFF;
  EXPECT_FALSE(a.Take(&stray, 1, 5000, out));
  EXPECT_EQ(a.Expire(5000 + kPairWindowMs), -1);
  EXPECT_EQ(a.Wanted(), 2);
  const uint8_t frame[2] = {0x0C, 0x35};
  EXPECT_TRUE(a.Take(frame, 2, 5100, out));
  EXPECT_EQ(out[0], 0x0C);
  EXPECT_FALSE(a.Take(frame, 0, 5200, out));
  EXPECT_EQ(a.Expire(6000), -1);
}

// A key held down sends a frame every 100 ms here, inside a 300 ms window.
TEST(RepeatFilter, HeldKeysActOnceEveryWindowOrEveryFrame) {
  const auto actions = [](HeldKey held) {
    RepeatFilter filter(300);
    int acted = 0;
    for (uint32_t t = 1000; t < 2000; t += 100) acted += filter.Acts(0x3530, t, held);
    return acted;
  };
  EXPECT_EQ(actions(HeldKey::kOnce), 1);
  EXPECT_EQ(actions(HeldKey::kEveryWindow), 4);  // at 1000, 1300, 1600, 1900
  EXPECT_EQ(actions(HeldKey::kEveryFrame), 10);

  RepeatFilter filter(300);
  EXPECT_TRUE(filter.Acts(0x3530, 5000, HeldKey::kOnce));
  EXPECT_TRUE(filter.Acts(0x3535, 5100, HeldKey::kOnce));   // another key: a new press
  EXPECT_FALSE(filter.Acts(0x3535, 5399, HeldKey::kOnce));
  EXPECT_TRUE(filter.Acts(0x3535, 5699, HeldKey::kOnce));   // the window has passed
  EXPECT_TRUE(filter.Acts(0x3535, 0xFFFFFFF0u, HeldKey::kOnce));
  EXPECT_FALSE(filter.Acts(0x3535, 0x00000010u, HeldKey::kOnce));  // 32 ms later, across the wrap
}
