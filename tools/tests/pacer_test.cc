#include "tools/demo/pacer.h"

#include <gtest/gtest.h>

TEST(Pacer, KeepsTheRateOverManySmallChunks) {
  Pacer pacer(176400);
  uint64_t now = 5000000;
  // One second of audio in 4096-byte reads, sleeping as told each time.
  size_t left = 176400;
  while (left > 0) {
    const size_t chunk = left < 4096 ? left : 4096;
    now += pacer.Took(chunk, now);
    left -= chunk;
  }
  EXPECT_NEAR(static_cast<double>(now - 5000000), 1000000.0, 2.0);
}

TEST(Pacer, OddRatesDoNotDrift) {
  Pacer pacer(3);
  uint64_t now = 0;
  for (int i = 0; i < 3000; ++i) now += pacer.Took(1, now);
  EXPECT_EQ(now, 1000u * 1000000u);  // 3000 bytes at 3 a second
}

TEST(Pacer, AfterAStallThereIsNoBurst) {
  Pacer pacer(1000);
  uint64_t now = 0;
  now += pacer.Took(500, now);          // half a second
  now += 10000000;                      // paused for ten seconds
  EXPECT_EQ(pacer.Took(500, now), 500000u);
}

TEST(Pacer, ZeroRateIsNotADivisionByZero) {
  Pacer pacer(0);
  EXPECT_GT(pacer.Took(1, 0), 0u);
}
