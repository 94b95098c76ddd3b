// Long paths, and a decoder that will not end: the player still works and
// still ends, leaving nothing behind.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

// Creates nested directories under base until the path is at least length
// characters long; returns the deepest one.
std::string DeepDirectory(TempDir& dir, size_t length) {
  std::string relative = "deep";
  dir.MakeDir(relative);
  while (dir.Join(relative).size() < length) {
    relative += "/" + std::string(40, 'd');
    dir.MakeDir(relative);
  }
  return dir.Join(relative);
}

TEST(Robustness, LongDevicePathThroughASymlink) {
  Session s;
  const std::string deep = DeepDirectory(s.dir(), 290);
  const std::string device = deep + "/control-unit-tty";
  ASSERT_EQ(symlink(s.slave().c_str(), device.c_str()), 0);
  ASSERT_GE(device.size(), 300u);
  s.Start({"-s", device, "a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitForCommand("LOAD a.mp3"));
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
  EXPECT_EQ(LeftoverChildren(), "");
}

// A path longer than a command buffer of old goes out whole.
TEST(Robustness, LongPlayListPathIsLoadedWhole) {
  Session s;
  const std::string entry = DeepDirectory(s.dir(), 190) + "/" + std::string(20, 'n') + ".mp3";
  ASSERT_GE(entry.size(), 200u);
  s.StartOn({entry, "b.mp3"});
  ASSERT_TRUE(s.WaitReady());
  EXPECT_TRUE(s.WaitForCommand("LOAD " + entry));
  s.DecoderSays("@P 0\n");
  EXPECT_TRUE(s.WaitForCommand("LOAD b.mp3"));
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
}

// Keys and the display go on while a decoder that has gone is replaced, and
// the quit key still ends it.
TEST(Robustness, DecoderGoneKeysAndDisplayGoOn) {
  Session s;
  s.StartOn({"a.mp3", "b.mp3"});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitForCommand("LOAD a.mp3"));
  const pid_t decoder = s.DecoderPid();
  ASSERT_GT(decoder, 0);
  kill(decoder, SIGKILL);
  s.Pump(100);
  EXPECT_TRUE(s.Press(kPause));
  EXPECT_TRUE(s.Press(kNext));
  EXPECT_TRUE(s.WaitForLine2("Trk 2 (0:00)" + std::string(4, ' '), s.Frames().size()));
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(15000), 2);
  EXPECT_EQ(LeftoverChildren(), "");
}

// The shell's redirections take single-digit descriptors only; a player
// started with many open must still reach its decoder.
TEST(Robustness, ManyInheritedDescriptorsStillReachTheDecoder) {
  SessionOptions options;
  options.extraDescriptors = 12;
  Session s(options);
  s.StartOn({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  EXPECT_TRUE(s.WaitForCommand("LOAD a.mp3")) << s.Trace();
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
  EXPECT_EQ(LeftoverChildren(), "");
}

// Without the control unit the player goes on with the decoder's lines.
TEST(Robustness, LineHangUpLeavesThePlayerWorking) {
  Session s;
  s.StartOn({"a.mp3", "b.mp3"});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitForCommand("LOAD a.mp3"));
  s.HangUp();
  s.Pump(700);  // a refresh or two onto the dead line
  ASSERT_TRUE(s.Sync());
  s.DecoderSays("@P 0\n");
  EXPECT_TRUE(s.WaitForCommand("LOAD b.mp3"));
  s.DecoderSays("@P 0\n");
  EXPECT_EQ(s.WaitExit(), 0);
  EXPECT_EQ(LeftoverChildren(), "");
}

TEST(Robustness, FloodOfFramesIsHandledInFull) {
  Session s;
  s.StartOn({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  s.SendBurst(std::vector<uint16_t>(300, kVolumeUp));
  EXPECT_TRUE(s.WaitFor([&] { return s.CountTrace("Volume=100%") == 300; }, 15000))
      << s.CountTrace("Volume=100%");
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
}

class StubbornDecoder : public ::testing::Test {
 protected:
  static SessionOptions Stubborn() {
    SessionOptions options;
    options.stubborn = true;
    return options;
  }
  Session s{Stubborn()};
};

// The wait for the children is bounded; the exit status is kept.
TEST_F(StubbornDecoder, QuitKeyStillEnds) {
  s.StartOn({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitForCommand("LOAD a.mp3"));
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(15000), 2);
  EXPECT_EQ(s.CountCommand("QUIT"), 1u);
  EXPECT_EQ(LeftoverChildren(), "");
}

TEST_F(StubbornDecoder, TrackKeyPastTheEndStillEnds) {
  s.StartOn({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitForCommand("LOAD a.mp3"));
  s.SendKey(kNext);
  EXPECT_EQ(s.WaitExit(15000), 0);
  EXPECT_EQ(LeftoverChildren(), "");
}

TEST_F(StubbornDecoder, LastTrackEndStillEnds) {
  s.StartOn({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitForCommand("LOAD a.mp3"));
  s.DecoderSays("@P 0\n");
  EXPECT_EQ(s.WaitExit(15000), 0);
  EXPECT_EQ(LeftoverChildren(), "");
}

}  // namespace
}  // namespace e2e
