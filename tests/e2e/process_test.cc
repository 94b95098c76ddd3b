// The player as a process among others: ended by a signal or killed outright,
// with its output gone or closed from the start, on a line that stops
// draining. It ends in order and leaves nothing behind.
#include <signal.h>

#include <string>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

constexpr int kEndMs = 3000;  // the bounded waits at the end, and some room

class EndedBySignal : public ::testing::TestWithParam<int> {};

// Like the quit key, then the same signal again, for whoever started it.
TEST_P(EndedBySignal, QuitsTheDecoderAndLeavesNothing) {
  Session s;
  ASSERT_TRUE(s.StartPlaying({"a.mp3"}));
  s.Signal(GetParam());
  EXPECT_EQ(s.WaitExit(kEndMs), -1);
  EXPECT_EQ(s.ExitSignal(), GetParam());
  EXPECT_EQ(LeftoverChildren(), "");
  EXPECT_EQ(s.CountCommand("QUIT"), 1u);
  EXPECT_EQ(s.CountTrace("SIG" + std::string(sigabbrev_np(GetParam())) + " received, quitting"),
            1u);
}

INSTANTIATE_TEST_SUITE_P(Signals, EndedBySignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

TEST(Process, KilledOutrightTakesItsChildrenAlong) {
  Session s;
  ASSERT_TRUE(s.StartPlaying({"a.mp3"}));
  s.Signal(SIGKILL);
  EXPECT_TRUE(s.NothingLeftWithin(kEndMs)) << LeftoverChildren();
}

// Descriptor 1 closed at start must not become the line.
TEST(Process, ClosedStandardOutputKeepsTracesOffTheLine) {
  SessionOptions options;
  options.closedStdout = true;
  Session s(options);
  ASSERT_TRUE(s.StartPlaying({"a.mp3"}));
  s.DecoderSays("@I Some title\nan unknown line\n");
  s.SendKey(kPause);
  EXPECT_TRUE(s.WaitForCommand("PAUSE"));
  s.Pump(600);
  EXPECT_EQ(s.LineBytes().find('\n'), std::string::npos);
  EXPECT_FALSE(s.Frames().empty());
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
  EXPECT_EQ(LeftoverChildren(), "");
}

// A pager that quit (norvelo ... | head -1) costs the traces, not the music.
TEST(Process, OutputReaderGoneTheMusicGoesOn) {
  Session s;
  ASSERT_TRUE(s.StartPlaying({"a.mp3", "b.mp3"}));
  s.CloseTrace();
  s.DecoderSays("@I A title\n@P 0\n");
  EXPECT_TRUE(s.WaitForCommand("LOAD b.mp3"));
  EXPECT_TRUE(s.Running());
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
  EXPECT_EQ(LeftoverChildren(), "");
}

// The display's writes must not stop the loop while the line does not drain;
// frames are dropped meanwhile, and whole ones follow once it drains again.
TEST(Process, LineThatStopsDrainingLeavesKeysWorking) {
  Session s;
  ASSERT_TRUE(s.StartPlaying({"a.mp3"}));
  s.SuspendLineOutput(true);
  s.Pump(1200);  // refreshes due meanwhile
  s.SendKey(kPause);
  EXPECT_TRUE(s.WaitForCommand("PAUSE"));
  const size_t before = s.Frames().size();
  s.SuspendLineOutput(false);
  ASSERT_TRUE(s.WaitForFrame([](const DisplayFrame&) { return true; }, before + 1));
  for (const DisplayFrame& f : s.Frames()) {
    EXPECT_EQ(f.line1.size(), 16u);
    EXPECT_EQ(f.line2.size(), 16u);
  }
  s.SuspendLineOutput(true);
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
  EXPECT_EQ(LeftoverChildren(), "");
}

}  // namespace
}  // namespace e2e
