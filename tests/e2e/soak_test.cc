// A flood of frames at the line's full rate for a minute: every frame is
// traced, and the player's memory stays flat.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

int SoakSeconds() {
  const char* text = getenv("NORVELO_SOAK_SECONDS");
  return text ? atoi(text) : 60;
}

TEST(Soak, FloodAtLineRate) {
  Session s;
  s.StartOn({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  // 2400 baud, 10 bits a character: one 2-byte frame every 8.33 ms. Three
  // frames every 25 ms keeps that rate on a coarse timer.
  const int seconds = SoakSeconds();
  const uint16_t codes[] = {kVolumeUp, kJunk, kVolumeDown, kPause, kJunk};
  size_t sent = 0;
  long rssAtStart = -1;
  for (int tick = 0; tick < seconds * 40; ++tick) {
    std::vector<uint16_t> burst;
    for (int i = 0; i < 3; ++i) burst.push_back(codes[(sent + i) % 5]);
    s.SendBurst(burst);
    sent += burst.size();
    s.Pump(25);
    if (tick == 400) rssAtStart = ProcStatusNumber(s.pid(), "VmRSS");
  }
  const auto traced = [&] {
    size_t n = 0;
    for (const std::string& line : s.TraceLines()) n += line.rfind("IR Command: ", 0) == 0;
    return n;
  };
  EXPECT_TRUE(s.WaitFor([&] { return traced() == sent; }, 30000))
      << traced() << " of " << sent;
  const long rssAtEnd = ProcStatusNumber(s.pid(), "VmRSS");
  printf("frames sent %zu, traced %zu; resident %ld KiB after 10 s, %ld KiB at the end\n", sent,
         traced(), rssAtStart, rssAtEnd);
  EXPECT_LT(rssAtEnd - rssAtStart, 1024);
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(10000), 2);
  EXPECT_EQ(LeftoverChildren(), "");
}

}  // namespace
}  // namespace e2e
