// Keys end to end: frames written on the pty reach the key handling once,
// the repeat filter, the track keys, the seek modes and mappings files.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

std::vector<std::string> Tracks(int count) {
  std::vector<std::string> list;
  for (int i = 1; i <= count; ++i) list.push_back("t" + std::to_string(i) + ".mp3");
  return list;
}

// A running player with the first track loaded.
class Keys : public ::testing::Test {
 protected:
  void StartWith(const std::vector<std::string>& list) {
    s.StartOn(list);
    ASSERT_TRUE(s.WaitReady());
    ASSERT_TRUE(s.WaitForCommand("LOAD " + list[0]));
  }

  // The commands the burst caused, once every frame of it was handled.
  Lines After(const std::vector<uint16_t>& codes) {
    const size_t mark = s.Commands().size();
    const size_t traced = IrTraceCount();
    s.SendBurst(codes);
    EXPECT_TRUE(s.WaitFor([&] { return IrTraceCount() >= traced + codes.size(); }));
    EXPECT_TRUE(s.Sync());
    return s.CommandsSince(mark);
  }

  size_t IrTraceCount() const {
    size_t count = 0;
    for (const std::string& line : s.TraceLines()) count += line.rfind("IR Command: ", 0) == 0;
    return count;
  }

  Session s;
};

TEST_F(Keys, QuitKeyEndsWithStatusTwoAndNoChildLeft) {
  StartWith({"a.mp3"});
  s.SendKey(kQuit, /*toggle=*/true);  // the toggle bit is not part of the code
  EXPECT_EQ(s.WaitExit(), 2);
  EXPECT_EQ(s.CountTrace("IR Command: 350C"), 1u);
  EXPECT_EQ(s.Commands().back(), "QUIT");
  EXPECT_EQ(LeftoverChildren(), "");
}

TEST_F(Keys, FrameInOneWriteOrSplitAcrossTwoIsHandledOnce) {
  StartWith({"a.mp3"});
  s.SendBytes(FrameBytes(kPlay));
  ASSERT_TRUE(s.WaitForTrace("IR Command: 3535"));
  s.Pump(400);  // past the repeat window
  const std::string split = FrameBytes(kPause);
  s.SendBytes(split.substr(0, 1));
  SleepMs(5);
  s.SendBytes(split.substr(1));
  ASSERT_TRUE(s.WaitForTrace("IR Command: 3530"));
  ASSERT_TRUE(s.Sync());
  s.Pump(100);
  EXPECT_EQ(IrTraceCount(), 2u);
  EXPECT_EQ(s.Commands(), (Lines{"LOAD a.mp3", "LOAD a.mp3", "PAUSE"}));
}

TEST_F(Keys, StrayByteCostsOnlyItself) {
  StartWith({"a.mp3"});
  s.SendBytes("\x55");
  s.Pump(100);
  // Two halves too far apart are two strays.
  s.SendBytes("\x30");
  s.Pump(60);
  s.SendBytes("\x35");
  s.Pump(100);
  EXPECT_EQ(After({kPause}), Lines{"PAUSE"});
  EXPECT_EQ(IrTraceCount(), 1u);
  EXPECT_EQ(s.CountTrace("IR Command: 3530"), 1u);
}

// Garbage pairs are traced and ignored; an odd byte left over is dropped.
TEST_F(Keys, GarbageOnTheLineLeavesTheQuitKeyWorking) {
  StartWith({"a.mp3"});
  std::string garbage;
  for (int i = 0; i < 301; ++i) garbage.push_back(static_cast<char>(0x80 + (i * 37) % 128));
  s.SendBytes(garbage);
  ASSERT_TRUE(s.WaitFor([&] { return IrTraceCount() == 150; }));
  s.Pump(100);
  EXPECT_EQ(IrTraceCount(), 150u);
  for (const std::string& line : s.TraceLines())
    if (line.rfind("IR Command: ", 0) == 0) {
      EXPECT_EQ(line.substr(12, 2), "F7") << line;
    }
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
  EXPECT_EQ(s.Commands(), (Lines{"LOAD a.mp3", "QUIT"}));
}

TEST_F(Keys, SameCodeInQuickSuccessionActsOnce) {
  StartWith({"a.mp3"});
  // The second frame differs only in the toggle bit: the same code.
  const size_t mark = s.Commands().size();
  s.SendBytes(FrameBytes(kPause) + FrameBytes(kPause, true));
  ASSERT_TRUE(s.WaitFor([&] { return s.CountTrace("IR Command: 3530") == 2; }));
  ASSERT_TRUE(s.Sync());
  EXPECT_EQ(s.CommandsSince(mark), Lines{"PAUSE"});
}

TEST_F(Keys, SameCodeAfterTheWindowActsAgain) {
  StartWith({"a.mp3"});
  EXPECT_EQ(After({kPause}), Lines{"PAUSE"});
  s.Pump(450);
  EXPECT_EQ(After({kPause}), Lines{"PAUSE"});
}

TEST_F(Keys, DifferentKeysInQuickSuccessionBothAct) {
  StartWith({"a.mp3"});
  EXPECT_EQ(After({kPause, kJunk, kPause, kPlay}), (Lines{"PAUSE", "PAUSE", "LOAD a.mp3"}));
}

TEST_F(Keys, VolumeAndJumpKeysActOnEveryFrame) {
  StartWith({"a.mp3"});
  After({kMode, kJunk, kMode});  // seek mode: next is the forward jump
  EXPECT_EQ(After({kNext, kNext, kNext}), (Lines{"JUMP +200", "JUMP +200", "JUMP +200"}));
  After({kVolumeUp, kVolumeUp, kVolumeUp});
  EXPECT_EQ(s.CountTrace("Volume=100%"), 3u);
}

// Each row of the transport table, from the state before anything is loaded.
TEST(Transport, KeysMoveBetweenNotStartedPlayingPausedAndStopped) {
  SessionOptions quiet;
  quiet.ready = "";
  Session s(quiet);
  s.StartOn({"a.mp3", "b.mp3"});
  ASSERT_TRUE(s.WaitReady());
  const auto after = [&](uint16_t code) {
    const size_t mark = s.Commands().size();
    EXPECT_TRUE(s.Press(kJunk));
    EXPECT_TRUE(s.Press(code));
    EXPECT_TRUE(s.Sync());
    return s.CommandsSince(mark);
  };
  EXPECT_EQ(after(kPause), Lines{});  // not started
  EXPECT_EQ(after(kStop), Lines{});
  EXPECT_EQ(after(kPlay), Lines{"LOAD a.mp3"});
  EXPECT_EQ(after(kPlay), Lines{"LOAD a.mp3"});  // playing: starts again
  EXPECT_EQ(after(kPause), Lines{"PAUSE"});
  EXPECT_EQ(after(kPause), Lines{"PAUSE"});  // paused: resumes
  EXPECT_EQ(after(kPause), Lines{"PAUSE"});
  EXPECT_EQ(after(kPlay), Lines{"PAUSE"});  // paused: play resumes
  EXPECT_EQ(after(kStop), Lines{"STOP"});
  EXPECT_EQ(after(kPause), Lines{});  // stopped
  EXPECT_EQ(after(kStop), Lines{});
  EXPECT_EQ(after(kPlay), Lines{"LOAD a.mp3"});
  EXPECT_EQ(after(kPause), Lines{"PAUSE"});
  EXPECT_EQ(after(kStop), Lines{"STOP"});  // paused: stops
  EXPECT_EQ(after(kNext), Lines{"LOAD b.mp3"});  // stopped: track keys load
  EXPECT_EQ(after(kPause), Lines{"PAUSE"});
  EXPECT_EQ(after(kPrevious), Lines{"LOAD a.mp3"});  // paused: and play
  EXPECT_EQ(after(kPause), Lines{"PAUSE"});
}

TEST_F(Keys, TrackKeysInTheThreeSeekModes) {
  StartWith(Tracks(12));
  EXPECT_EQ(After({kPrevious}), Lines{"LOAD t1.mp3"});  // stays on the first
  EXPECT_EQ(After({kNext, kJunk, kNext, kJunk, kNext, kJunk, kNext, kJunk, kNext}),
            (Lines{"LOAD t2.mp3", "LOAD t3.mp3", "LOAD t4.mp3", "LOAD t5.mp3", "LOAD t6.mp3"}));
  // Tens: from the sixth back ten stops at the first.
  EXPECT_EQ(After({kMode, kPrevious, kJunk, kNext}), (Lines{"LOAD t1.mp3", "LOAD t11.mp3"}));
  // Seek: next and previous jump, and repeat like the jump keys.
  EXPECT_EQ(After({kMode, kNext, kNext, kPrevious, kPrevious}),
            (Lines{"JUMP +200", "JUMP +200", "JUMP -200", "JUMP -200"}));
  // Back to track mode: one entry at a time again.
  EXPECT_EQ(After({kMode, kNext}), Lines{"LOAD t12.mp3"});
  s.Pump(400);
  s.SendKey(kNext);  // past the last entry
  EXPECT_EQ(s.WaitExit(), 0);
  EXPECT_EQ(s.Commands().back(), "QUIT");
  EXPECT_EQ(LeftoverChildren(), "");
}

TEST_F(Keys, TenForwardPastTheEndEnds) {
  StartWith(Tracks(10));
  After({kMode});
  s.SendKey(kNext);
  EXPECT_EQ(s.WaitExit(), 0);
  EXPECT_EQ(s.Commands(), (Lines{"LOAD t1.mp3", "QUIT"}));
}

// 0000 (a TV remote's "0", or line noise) finds none of the empty slots.
TEST_F(Keys, DigitsZeroAndUnknownCodesOnlyTrace) {
  StartWith({"a.mp3"});
  EXPECT_TRUE(After({kDigit1, 0xF785, 0x0000, kJunk}).empty());
  EXPECT_EQ(s.CountTrace("IR Command: 3001"), 1u);
  EXPECT_EQ(s.CountTrace("IR Command: 0000"), 1u);
  EXPECT_EQ(s.CountTrace("IR Command: 2727"), 1u);
}

TEST_F(Keys, HighByteZeroIsSignExtended) {
  StartWith({"a.mp3"});
  s.SendBytes("\x85\x38");
  EXPECT_TRUE(s.WaitForTrace("IR Command: F785"));
}

class Mappings : public Keys {
 protected:
  std::string Map(const std::string& name, const std::string& content) {
    return s.dir().Write(name, content);
  }
};

// A mappings file replaces the whole table: the default quit key is dead and
// the file's codes act; blank lines, "0x" and long codes are read as codes.
TEST_F(Mappings, FileReplacesTheWholeTable) {
  const std::string map = Map("keys.map",
                              "0x1111\n\n  2222  \n   \r\n0x00013333 trailing text\n");
  s.Start({"-m", map, "-s", s.slave(), "a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitForCommand("LOAD a.mp3"));
  EXPECT_TRUE(After({kQuit, kPause, kPlay}).empty());
  EXPECT_EQ(After({0x2222, 0x3333}), (Lines{"LOAD a.mp3", "PAUSE"}));
  s.SendKey(0x1111);
  EXPECT_EQ(s.WaitExit(), 2);
}

TEST_F(Mappings, SecondFileWinsUnlessItIsMissing) {
  const std::string first = Map("first.map", "1111\n");
  const std::string second = Map("second.map", "2222\n");
  s.Start({"-m", first, "-m", second, "-m", s.dir().Join("missing.map"), "-s", s.slave(),
           "a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  EXPECT_TRUE(s.WaitForTrace("Remote mappings file not found! " + s.dir().Join("missing.map") +
                              ": No such file or directory"));
  After({0x1111});
  EXPECT_TRUE(s.Running());
  s.SendKey(0x2222);
  EXPECT_EQ(s.WaitExit(), 2);
}

// A FIFO (no writer ever comes) or an endless device is said at once, and the
// default keys act.
TEST_F(Mappings, WhatIsNoRegularFileLeavesTheDefaultKeys) {
  const std::string fifo = s.dir().Join("keys.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  s.Start({"-m", fifo, "-m", "/dev/zero", "-s", s.slave(), "a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  for (const std::string& path : {fifo, std::string("/dev/zero")})
    EXPECT_EQ(s.CountTrace("Remote mappings file " + path +
                           ": not a regular file, the keys stay as they were"), 1u)
        << s.Trace();
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
}

// Slots the file does not fill hold 0, which is no key: code 0 does nothing.
TEST_F(Mappings, NotACodeTakesItsSlotWithoutAKey) {
  const std::string map = Map("keys.map", "quit\n3535\n");
  s.Start({"-m", map, "-s", s.slave(), "a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitForCommand("LOAD a.mp3"));
  EXPECT_EQ(s.TraceLines().front().rfind("Remote mappings file", 0), 0u) << s.Trace();
  EXPECT_EQ(After({kPlay}), Lines{"LOAD a.mp3"});
  EXPECT_TRUE(After({0, kQuit}).empty());
  s.DecoderSays("@P 0\n");
  EXPECT_EQ(s.WaitExit(), 0);
}

// A file that gives no key would leave no way to quit: the defaults stay.
TEST_F(Mappings, FileWithoutKeysKeepsTheDefaults) {
  const std::string map = Map("keys.map", "");
  s.Start({"-m", map, "-s", s.slave(), "a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  EXPECT_EQ(s.TraceLines().front(),
            "Remote mappings file " + map + " gives no key, the keys stay as they were");
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
}

TEST_F(Mappings, CodesPastTheTwentyFourthAreIgnored) {
  std::string content;
  for (int i = 0; i < 24; ++i) content += std::to_string(1000 + i) + "\n";
  content += "350C\n3535\n";
  const std::string map = Map("keys.map", content);
  s.Start({"-m", map, "-s", s.slave(), "a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitForCommand("LOAD a.mp3"));
  EXPECT_EQ(s.TraceLines().front().rfind("Remote mappings file", 0), 0u) << s.Trace();
  EXPECT_TRUE(After({kQuit, kPlay}).empty());
  EXPECT_EQ(After({0x1001}), Lines{"LOAD a.mp3"});  // slot 1, play
  s.SendKey(0x1000);
  EXPECT_EQ(s.WaitExit(), 2);
}

}  // namespace
}  // namespace e2e
