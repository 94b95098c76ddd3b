// The player with the real decoder (its dummy output decodes at full speed,
// so every track ends at once) on MP3 files made here with the encoder.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "daemon.h"
#include "harness.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

bool HaveTools() { return access("/usr/bin/mpg123", X_OK) == 0 && access("/usr/bin/lame", X_OK) == 0; }

// Half a second of silence, encoded with the given tag options.
std::string MakeMp3(TempDir& dir, const std::string& name, const std::string& tagOptions) {
  const std::string path = dir.Join(name);
  EXPECT_TRUE(WriteSilentMp3(path, 0.5, tagOptions)) << tagOptions;
  return path;
}

class RealDecoder : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTools()) GTEST_SKIP() << "mpg123 or lame not installed";
  }
  Session s{RealDecoders()};
};

TEST_F(RealDecoder, TaggedAndUntaggedTracksPlayThroughInOrder) {
  const Lines list = {
      MakeMp3(s.dir(), "v2.mp3", "--tt 'Title Two' --ta Artist --tl Album --id3v2-only"),
      MakeMp3(s.dir(), "v1.mp3", "--tt 'Title One' --ta Band --tl Record --id3v1-only"),
      MakeMp3(s.dir(), "both.mp3", "--tt 'Both T' --ta 'Both A' --tl 'Both L'"),
      MakeMp3(s.dir(), "plain.mp3", ""),
      MakeMp3(s.dir(), "title only.mp3", "--tt Lonely --id3v2-only"),
  };
  s.StartOn(list);
  EXPECT_EQ(s.WaitExit(30000), 0) << s.Trace();
  EXPECT_EQ(TrackLines(s), (Lines{"Track 1: \"Artist - Album - Title Two\"",
                                  "Track 2: \"Band - Record - Title One\"",
                                  "Track 3: \"Both A - Both L - Both T\"", "Track 4: \"plain\"",
                                  "Track 5: \"Lonely\""}))
      << s.Trace();
  EXPECT_EQ(LeftoverChildren(), "");
}

// A player started as a system service is, in the C locale: the decoder is
// still given a UTF-8 character type, so accented tags arrive whole.
TEST(RealDecoderLocale, AccentedTagsArriveWholeInTheCLocale) {
  if (!HaveTools()) GTEST_SKIP() << "mpg123 or lame not installed";
  SessionOptions options = RealDecoders();
  options.environment = {"LC_ALL=C", "LC_CTYPE", "LANG"};
  Session s(options);
  const std::string track =
      MakeMp3(s.dir(), "accents.mp3", "--tt 'Perché è così' --ta Artista --id3v2-only");
  s.StartOn({track});
  EXPECT_EQ(s.WaitExit(30000), 0) << s.Trace();
  EXPECT_EQ(TrackLines(s), Lines{"Track 1: \"Artista - Perché è così\""});
}

// A file the decoder cannot open: its reports are echoed and play goes on.
TEST_F(RealDecoder, MissingFileIsReportedAndSkipped) {
  const std::string good = MakeMp3(s.dir(), "good.mp3", "--tt Good --ta Band --id3v2-only");
  s.StartOn({s.dir().Join("missing.mp3"), good});
  EXPECT_EQ(s.WaitExit(30000), 0) << s.Trace();
  EXPECT_EQ(TrackLines(s), Lines{"Track 2: \"Band - Good\""}) << s.Trace();
  EXPECT_TRUE(s.WaitForTrace("@E Error opening stream: " + s.dir().Join("missing.mp3"), 0))
      << s.Trace();
  EXPECT_TRUE(s.WaitForTrace(
      "Unable to play " + s.dir().Join("missing.mp3") + ": No such file or directory", 0));
}

// A list none of whose entries plays is a failure, which a service must see.
TEST_F(RealDecoder, ListOfMissingFilesEndsWithStatusOne) {
  s.StartOn({s.dir().Join("gone.mp3")});
  EXPECT_EQ(s.WaitExit(30000), 1) << s.Trace();
  EXPECT_TRUE(s.WaitForTrace("No entry of the list could be played!", 0)) << s.Trace();
}

// Without any sound output the decoder complains and never says it is
// ready: the player says so itself, on line 1 too, leaves nothing spinning,
// and the quit key still ends it.
TEST(RealDecoderWithoutSound, SaysSoAndQuits) {
  if (!HaveTools()) GTEST_SKIP() << "mpg123 or lame not installed";
  SessionOptions silent;
  silent.decoder = Decoder::Silent;
  Session s(silent);
  s.StartOn({MakeMp3(s.dir(), "a.mp3", "--tt A")});
  EXPECT_TRUE(s.WaitFor(
      [&] {
        for (const std::string& line : s.TraceLines())
          if (line.rfind("No sound output could be opened: ", 0) == 0) return true;
        return false;
      },
      5000))
      << s.Trace();
  EXPECT_TRUE(s.WaitFor([&] {
    const std::vector<DisplayFrame> frames = s.Frames();
    return !frames.empty() && frames.back().line1.find("No sound") != std::string::npos;
  }));
  EXPECT_LE(s.DecoderPid(), 0);
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
  EXPECT_EQ(LeftoverChildren(), "");
}

// Killed outright, the player takes the decoder along: the decoder itself
// holds the death signal, so none is left to spin on the end of its input.
TEST_F(RealDecoder, KilledPlayerLeavesNoDecoder) {
  s.dir().MakeDir("empty");
  s.StartOn({"-r", s.dir().Join("empty")});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitFor([&] { return s.DecoderPid() > 0; }));
  s.Signal(SIGKILL);
  s.WaitExit();
  EXPECT_TRUE(s.WaitFor([] { return LeftoverChildren().find("mpg123") == std::string::npos; }, 3000))
      << LeftoverChildren();
}

TEST_F(RealDecoder, RecursiveScanPlaysInScanOrder) {
  s.dir().MakeDir("music");
  s.dir().MakeDir("music/sub");
  MakeMp3(s.dir(), "music/b.mp3", "--tt B --id3v2-only");
  MakeMp3(s.dir(), "music/a.mp3", "--tt A --id3v2-only");
  MakeMp3(s.dir(), "music/sub/z.mp3", "--tt Z --id3v2-only");
  s.StartOn({"-r", s.dir().Join("music")});
  // "-r" after "-s": StartOn puts the device first, and options go on.
  EXPECT_EQ(s.WaitExit(30000), 0) << s.Trace();
  EXPECT_EQ(TrackLines(s), (Lines{"Track 1: \"Z\"", "Track 2: \"A\"", "Track 3: \"B\""}));
}

TEST_F(RealDecoder, LongPathPlays) {
  std::string relative = "long";
  s.dir().MakeDir(relative);
  while (s.dir().Join(relative).size() < 190) {
    relative += "/" + std::string(30, 'p');
    s.dir().MakeDir(relative);
  }
  const std::string path =
      MakeMp3(s.dir(), relative + "/" + std::string(12, 'f') + ".mp3", "--tt Far --ta Away");
  ASSERT_GE(path.size(), 200u);
  s.StartOn({path});
  EXPECT_EQ(s.WaitExit(30000), 0) << s.Trace();
  EXPECT_EQ(TrackLines(s), Lines{"Track 1: \"Away - Far\""});
}

// Nothing to play: the decoder idles, answers the jump key and ends on quit.
TEST_F(RealDecoder, KeysReachTheIdleDecoderAndQuitEnds) {
  s.dir().MakeDir("empty");
  s.StartOn({"-r", s.dir().Join("empty")});
  ASSERT_TRUE(s.WaitReady());
  // In seek mode the next key is the forward jump.
  for (uint16_t code : {kMode, kJunk, kMode, kNext}) ASSERT_TRUE(s.Press(code));
  EXPECT_TRUE(s.WaitForTrace("@E No track loaded!"));
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
  EXPECT_EQ(LeftoverChildren(), "");
}

// No pipe end of the player, no serial line, nothing its starter left open.
TEST_F(RealDecoder, DecoderHoldsOnlyItsStandardDescriptors) {
  s.dir().MakeDir("empty");
  s.StartOn({"-r", s.dir().Join("empty")});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitFor([&] { return s.DecoderPid() > 0; }));
  // While it starts, its loader holds each library it opens for a moment.
  Lines fds;
  const std::string fdDir = "/proc/" + std::to_string(s.DecoderPid()) + "/fd";
  const bool onlyStandard = s.WaitFor([&] {
    fds.clear();
    DIR* dir = opendir(fdDir.c_str());
    if (dir == nullptr) return false;
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') fds.push_back(entry->d_name);
    closedir(dir);
    std::sort(fds.begin(), fds.end());
    return fds == Lines{"0", "1", "2"};
  });
  EXPECT_TRUE(onlyStandard) << ::testing::PrintToString(fds);
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
}

TEST_F(RealDecoder, ThreeHundredEntriesPlayInOrder) {
  const std::string one = MakeMp3(s.dir(), "one.mp3", "--tt One --id3v2-only");
  s.dir().MakeDir("many");

  for (int i = 0; i < 300; ++i) {
    char name[32];
    snprintf(name, sizeof name, "many/%03d.mp3", i);
    ASSERT_EQ(link(one.c_str(), s.dir().Join(name).c_str()), 0);

  }
  s.StartOn({"-r", s.dir().Join("many")});
  EXPECT_EQ(s.WaitExit(180000), 0) << s.Trace().substr(0, 2000);
  // The real decoder does not log its commands; the trace counts the titles.
  EXPECT_EQ(TrackLines(s).size(), 300u);
  EXPECT_EQ(TrackLines(s).back(), "Track 300: \"One\"");
  EXPECT_EQ(LeftoverChildren(), "");
}

}  // namespace
}  // namespace e2e
