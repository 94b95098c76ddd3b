// The player on a wall clock that the test sets: the repeat window and the
// display cadence at their exact boundaries, and across the wrap of the
// 32-bit tick, without depending on how fast the machine is.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

constexpr uint64_t kBase = 1000000000000ull;  // ms since the epoch, tick well above 500
constexpr uint64_t kWrap = 1ull << 32;

class ControlledClock : public ::testing::Test {
 protected:
  static SessionOptions Options() {
    SessionOptions options;
    options.setClock = true;
    return options;
  }

  void StartWith(const Lines& list) {
    s.StartOn(list);
    ASSERT_TRUE(s.WaitReady());
    ASSERT_TRUE(s.WaitForCommand("LOAD " + list[0]));
  }

  // Sets the clock, then handles the key at that instant.
  Lines KeyAt(uint64_t ms, uint16_t code) {
    s.SetClock(ms);
    const size_t mark = s.Commands().size();
    EXPECT_TRUE(s.Press(code));
    EXPECT_TRUE(s.Sync());
    return s.CommandsSince(mark);
  }

  // Sets the clock and gives the player time to notice (its wait for work
  // ends at the latest when the display is next due by its own clock).
  size_t FramesAfterSetting(uint64_t ms) {
    s.SetClock(ms);
    s.Pump(800);
    return s.Frames().size();
  }

  Session s{Options()};
};

TEST_F(ControlledClock, SameCodeActsAgainFromThreeHundredMilliseconds) {
  StartWith({"a.mp3", "b.mp3"});
  const uint64_t t = kBase + 10000;
  EXPECT_EQ(KeyAt(t, kPause), Lines{"PAUSE"});
  EXPECT_EQ(KeyAt(t + 299, kPause), Lines{});
  // The ignored frame restarted the window.
  EXPECT_EQ(KeyAt(t + 299 + 299, kPause), Lines{});
  EXPECT_EQ(KeyAt(t + 598 + 300, kPause), Lines{"PAUSE"});
  // Volume and jump slots act however close together.
  const uint64_t u = t + 5000;
  KeyAt(u, kVolumeUp);
  KeyAt(u, kVolumeUp);
  EXPECT_EQ(s.CountTrace("Volume=100%"), 2u);
  // Next repeats in seek mode only, where it is the jump.
  EXPECT_EQ(KeyAt(u, kNext), Lines{"LOAD b.mp3"});
  EXPECT_EQ(KeyAt(u, kNext), Lines{});
  KeyAt(u + 1000, kMode);
  KeyAt(u + 2000, kMode);
  EXPECT_EQ(KeyAt(u + 3000, kNext), Lines{"JUMP +200"});
  EXPECT_EQ(KeyAt(u + 3000, kNext), Lines{"JUMP +200"});
  EXPECT_EQ(KeyAt(u + 3000, kPrevious), Lines{"JUMP -200"});
}

// Each repeat restarts the window, so a held key acts once however long.
TEST_F(ControlledClock, HeldKeyActsOnce) {
  StartWith({"a.mp3"});
  const uint64_t t = kBase + 20000;
  Lines commands;
  for (uint64_t held = 0; held <= 1500; held += 100) {
    const Lines step = KeyAt(t + held, kPause);
    commands.insert(commands.end(), step.begin(), step.end());
  }
  EXPECT_EQ(commands, Lines{"PAUSE"});
}

TEST_F(ControlledClock, RepeatWindowAcrossTheTickWrap) {
  StartWith({"a.mp3"});
  const uint64_t t = (kBase / kWrap + 1) * kWrap - 100;  // the tick reads 2^32 - 100
  EXPECT_EQ(KeyAt(t, kPause), Lines{"PAUSE"});
  EXPECT_EQ(KeyAt(t + 250, kPause), Lines{});  // the tick reads 150
  EXPECT_EQ(KeyAt(t + 550, kPause), Lines{"PAUSE"});
}

// A refresh comes only when more than 500 ms passed since the last one, and
// each refresh moves a 17-character title by one step: 0 1 1 0 0 1 ...
TEST_F(ControlledClock, DisplayCadenceAndTickerSteps) {
  StartWith({"a.mp3"});
  const std::string title = "ABCDEFGHIJKLMNOPQ";
  s.DecoderSays("@I " + title + "\n");
  ASSERT_TRUE(s.Sync());
  uint64_t t = kBase + 100000;
  size_t frames = FramesAfterSetting(t);  // due at once: the clock jumped
  EXPECT_EQ(FramesAfterSetting(t + 500), frames);
  std::vector<size_t> offsets = {title.find(s.Frames().back().line1)};
  for (int i = 0; i < 5; ++i) {
    t += 501;
    s.SetClock(t);
    ASSERT_TRUE(s.WaitFor([&] { return s.Frames().size() > frames; }));
    frames = s.Frames().size();
    offsets.push_back(title.find(s.Frames().back().line1));
  }
  EXPECT_EQ(offsets, (std::vector<size_t>{0, 1, 1, 0, 0, 1}));
  EXPECT_EQ(FramesAfterSetting(t), frames);

  // A volume key refreshes at once and restarts the 500 ms.
  t += 200;
  KeyAt(t, kVolumeUp);
  ASSERT_TRUE(s.WaitForLine2(std::string(16, '>') + " ", frames));
  frames = s.Frames().size();
  EXPECT_EQ(FramesAfterSetting(t + 500), frames);
  s.SetClock(t + 501);
  EXPECT_TRUE(s.WaitForLine2("Trk 1 (0:00)    ", frames));
}

}  // namespace
}  // namespace e2e
