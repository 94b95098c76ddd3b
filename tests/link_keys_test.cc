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
