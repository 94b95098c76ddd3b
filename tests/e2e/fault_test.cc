// Faults of the decoder and the line: the player must keep answering keys
// without spinning, and leave nothing behind when it ends.
#include <signal.h>

#include <string>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

// CPU share of one core used by the player's processes over ms. A spinning
// process uses a whole core; an idle player uses next to nothing.
double CpuShareOver(Session& s, int ms) {
  const double before = s.CpuSeconds();
  s.Pump(ms);
  return (s.CpuSeconds() - before) * 1000.0 / ms;
}

constexpr double kSpinning = 0.25;  // far above idle, far below a busy loop

// Presses until the key's trace shows: the line may take a moment to come back.
bool PressUntilSeen(Session& s, uint16_t code, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 400)
    if (s.Press(code, 400)) return true;
  return false;
}

// A new decoder takes over and plays the entry that was playing.
TEST(Faults, DecoderKilledMidTrack) {
  Session s;
  ASSERT_TRUE(s.StartPlaying({"a.mp3", "b.mp3"}));
  s.DecoderSays("@P 0\n");
  ASSERT_TRUE(s.WaitForCommand("LOAD b.mp3"));
  ASSERT_TRUE(s.Sync());
  ASSERT_GT(s.DecoderPid(), 0);
  kill(s.DecoderPid(), SIGKILL);
  EXPECT_TRUE(s.WaitForTrace("mpg123 process ended, starting it again"));
  EXPECT_TRUE(s.WaitFor([&] { return s.CountCommand("LOAD b.mp3") == 2; }));
  EXPECT_LT(CpuShareOver(s, 1000), kSpinning);
  EXPECT_TRUE(s.Press(kPause));
  EXPECT_TRUE(s.WaitForCommand("PAUSE"));
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(10000), 2);
  EXPECT_EQ(LeftoverChildren(), "");
}

// A decoder that cannot stay up is not started for ever.
TEST(Faults, DecoderEndingFourTimesInAMinuteEndsThePlayer) {
  Session s;
  s.StartOn({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  for (int loads = 1; loads <= 4; ++loads) {
    ASSERT_TRUE(s.WaitFor([&] { return s.CountCommand("LOAD a.mp3") == size_t(loads); }));
    ASSERT_TRUE(s.WaitFor([&] { return s.DecoderPid() > 0; }));
    kill(s.DecoderPid(), SIGKILL);
  }
  EXPECT_EQ(s.WaitExit(10000), 1);
  EXPECT_EQ(s.CountTrace("mpg123 process ended, starting it again"), 3u);
  EXPECT_EQ(s.TraceLines().back(), "");
  EXPECT_EQ(s.CountTrace("mpg123 process ended 4 times within 60 s!"), 1u);
  EXPECT_EQ(LeftoverChildren(), "");
}

TEST(Faults, ReceiverKilledKeysComeBack) {
  Session s;
  s.StartOn({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_GT(s.ReceiverPid(), 0);
  kill(s.ReceiverPid(), SIGKILL);
  EXPECT_TRUE(s.WaitForTrace("RX process ended, starting it again"));
  EXPECT_TRUE(PressUntilSeen(s, kPause, 5000)) << s.Trace();
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(10000), 2);
  EXPECT_EQ(LeftoverChildren(), "");
}

TEST(Faults, DecoderThatNeverAnswers) {
  SessionOptions silent;
  silent.ready = "";
  Session s(silent);
  s.StartOn({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  EXPECT_LT(CpuShareOver(s, 2000), kSpinning);
  EXPECT_TRUE(s.Press(kMode));
  EXPECT_TRUE(s.Press(kPlay));
  EXPECT_TRUE(s.WaitForCommand("LOAD a.mp3"));
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(10000), 2);
  EXPECT_EQ(LeftoverChildren(), "");
}

// A USB serial adapter pulled out and put back: same path, new device.
TEST(Faults, LineComesBackOnTheSamePath) {
  Session s;
  const std::string link = s.LinkPath();
  s.Start({"-s", link, "a.mp3", "b.mp3"});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.Press(kPause));
  s.HangUp();
  EXPECT_TRUE(s.WaitForTrace("Serial line lost: " + link));
  EXPECT_LT(CpuShareOver(s, 1500), kSpinning);
  // Play goes on without the line.
  ASSERT_TRUE(s.Sync());
  s.DecoderSays("@P 0\n");
  s.Reconnect();
  EXPECT_TRUE(s.WaitForTrace("Serial line back: " + link));
  EXPECT_TRUE(PressUntilSeen(s, kVolumeUp, 5000)) << s.Trace();
  const size_t seen = s.Frames().size();
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame&) { return true; }, seen));
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(10000), 2);
  EXPECT_EQ(LeftoverChildren(), "");
}

// The device gone altogether for a while, then back.
TEST(Faults, LineMissingForAWhile) {
  Session s;
  const std::string link = s.LinkPath();
  s.Start({"-s", link, "a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  s.HangUp();
  unlink(link.c_str());
  EXPECT_TRUE(s.WaitForTrace("Serial line lost: " + link));
  EXPECT_LT(CpuShareOver(s, 1500), kSpinning);
  s.Reconnect();
  EXPECT_TRUE(PressUntilSeen(s, kPause, 5000)) << s.Trace();
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(10000), 2);
}

}  // namespace
}  // namespace e2e
