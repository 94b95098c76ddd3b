// The volume keys on today's systems, where "/dev/mixer" is gone: the ALSA
// default device in front of a sound server, or, with no mixer at all, the
// decoder's own volume. Trace and bar show what the mixer took.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "sound_server.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

// Line 2 right after a volume key, in seek mode 1.
std::string BarLine(size_t marks) {
  return std::string(marks, '>') + std::string(marks < 15 ? 15 - marks : 0, ' ') + " ";
}

// Presses the key and waits for the bar it brings.
void VolumeKey(Session& s, uint16_t code, const std::string& volume, size_t marks) {
  const size_t frames = s.Frames().size();
  ASSERT_TRUE(s.Press(kJunk));  // never taken for a repeat of the mute key
  ASSERT_TRUE(s.Press(code));
  EXPECT_TRUE(s.WaitForTrace("Volume=" + volume + "%")) << s.Trace();
  EXPECT_TRUE(s.WaitForLine2(BarLine(marks), frames)) << volume;
}

// The player with the server as its ALSA default device.
SessionOptions OnServer(const SoundServer& server) {
  SessionOptions options;
  options.environment = server.Environment();
  options.environment.push_back("ALSA_CONFIG_PATH");  // ALSA's own configuration
  return options;
}

TEST(Volume, AlsaDefaultInFrontOfASoundServerSetsItsSink) {
  if (!SoundServer::Available()) GTEST_SKIP() << "pulseaudio and pactl are not installed";
  SoundServer server;
  ASSERT_TRUE(server.Start()) << server.Log();
  ASSERT_TRUE(server.SetSinkVolume(50));
  Session s(OnServer(server));
  ASSERT_TRUE(s.StartPlaying({"a.mp3"}));
  EXPECT_EQ(s.CountTrace("Mixer: ALSA default Master"), 1u) << s.Trace();

  VolumeKey(s, kVolumeUp, "55", 8);
  EXPECT_EQ(server.SinkVolume(), 55);
  VolumeKey(s, kVolumeDown, "50", 8);
  VolumeKey(s, kVolumeDown, "45", 7);
  EXPECT_EQ(server.SinkVolume(), 45);
  VolumeKey(s, kMute, "0", 0);
  EXPECT_EQ(server.SinkVolume(), 0);
  VolumeKey(s, kMute, "45", 7);
  EXPECT_EQ(server.SinkVolume(), 45);
  // Changed by another program: the next key starts from there.
  ASSERT_TRUE(server.SetSinkVolume(98));
  VolumeKey(s, kVolumeUp, "100", 16);
  EXPECT_EQ(server.SinkVolume(), 100);
  EXPECT_EQ(s.CountCommand("VOLUME 100"), 0u);

  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
  server.Stop();
  EXPECT_EQ(LeftoverChildren(), "");
}

// A sound server that stops answering hangs every request to it for as long
// as it is stopped; the player goes on without the mixer meanwhile.
TEST(Volume, AStoppedSoundServerFreezesNothing) {
  if (!SoundServer::Available()) GTEST_SKIP() << "pulseaudio and pactl are not installed";
  SoundServer server;
  ASSERT_TRUE(server.Start()) << server.Log();
  Session s(OnServer(server));
  ASSERT_TRUE(s.StartPlaying({"a.mp3"}));
  EXPECT_EQ(s.CountTrace("Mixer: ALSA default Master"), 1u) << s.Trace();
  server.Pause();
  for (uint16_t key : {kVolumeDown, kJunk, kVolumeUp, kJunk, kMute, kMode}) {
    EXPECT_TRUE(s.Press(key)) << s.Trace();
  }
  EXPECT_TRUE(s.WaitForTrace("Volume=0%")) << s.Trace();  // the mute key's
  const size_t frames = s.Frames().size();
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame&) { return true; }, frames));
  EXPECT_EQ(s.CountTrace("Mixer not answering: ALSA default Master"), 1u) << s.Trace();
  s.Signal(SIGTERM);
  EXPECT_EQ(s.WaitExit(), -1);
  EXPECT_EQ(s.ExitSignal(), SIGTERM);
  server.Stop();
  EXPECT_TRUE(s.NothingLeftWithin(kWaitMs)) << LeftoverChildren();
}

TEST(Volume, ASoundServerStoppedBeforeStartUpDelaysNothing) {
  if (!SoundServer::Available()) GTEST_SKIP() << "pulseaudio and pactl are not installed";
  SoundServer server;
  ASSERT_TRUE(server.Start()) << server.Log();
  server.Pause();
  Session s(OnServer(server));
  ASSERT_TRUE(s.StartPlaying({"a.mp3"})) << s.Trace();
  // It does not answer in time, so it is not there: the decoder's volume.
  EXPECT_EQ(s.CountTrace("Mixer not answering: ALSA default"), 1u) << s.Trace();
  EXPECT_EQ(s.CountTrace("Mixer: decoder"), 1u) << s.Trace();
  VolumeKey(s, kVolumeDown, "95", 15);
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
  server.Stop();
  EXPECT_TRUE(s.NothingLeftWithin(kWaitMs)) << LeftoverChildren();
}

// A decoder started in place of one that ended is at its full volume again:
// it is told the user's volume before it loads anything.
// (The harness leaves the player no ALSA device, and there is no OSS one.)
TEST(Volume, WithoutAMixerTheDecodersOwnVolume) {
  Session s;
  ASSERT_TRUE(s.StartPlaying({"a.mp3"}));
  EXPECT_EQ(s.CountTrace("Mixer: decoder"), 1u) << s.Trace();
  VolumeKey(s, kVolumeDown, "95", 15);
  EXPECT_TRUE(s.WaitForCommand("VOLUME 95"));
  // Its answer is taken, not echoed.
  s.DecoderSays("@V 40.000000%\n");
  ASSERT_TRUE(s.Sync());
  EXPECT_EQ(s.Trace().find("@V"), std::string::npos);
  VolumeKey(s, kVolumeDown, "35", 5);
  VolumeKey(s, kMute, "0", 0);
  VolumeKey(s, kMute, "35", 5);
  ASSERT_TRUE(s.Sync());
  const size_t mark = s.Commands().size();
  kill(s.DecoderPid(), SIGKILL);
  ASSERT_TRUE(s.WaitFor([&] { return s.CountCommand("LOAD a.mp3") == 2; }));
  EXPECT_EQ(s.CommandsSince(mark), (Lines{"VOLUME 35", "LOAD a.mp3"}));
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
}

TEST(Volume, TheRealDecoderAnswersItsVolume) {
  if (access("/usr/bin/mpg123", X_OK) != 0) GTEST_SKIP() << "mpg123 not installed";
  SessionOptions real;
  real.decoder = Decoder::Real;
  Session s(real);
  s.dir().MakeDir("empty");
  s.StartOn({"-r", s.dir().Join("empty")});  // the decoder idles, nothing to play
  ASSERT_TRUE(s.WaitReady());
  EXPECT_EQ(s.CountTrace("Mixer: decoder"), 1u) << s.Trace();
  VolumeKey(s, kVolumeDown, "95", 15);
  VolumeKey(s, kVolumeDown, "90", 14);
  VolumeKey(s, kVolumeUp, "95", 15);
  s.Pump(500);  // room for the answers
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
  // The decoder's answers came back and were taken, not echoed.
  EXPECT_EQ(s.Trace().find("@V"), std::string::npos) << s.Trace();
  EXPECT_EQ(s.Trace().find("@E"), std::string::npos) << s.Trace();
}

}  // namespace
}  // namespace e2e
