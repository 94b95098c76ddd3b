// "-p mpv" with the real mpv (its null output plays in real time) on tracks
// made here with Debian's encoders, and "-S" resuming after the player was
// killed: with mpv on the display, with mpg123 (the fake) in its commands.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

bool HaveTools() {
  for (const char* tool : {"/usr/bin/mpv", "/usr/bin/flac", "/usr/bin/oggenc", "/usr/bin/opusenc",
                           "/usr/bin/lame"})
    if (access(tool, X_OK) != 0) return false;
  return true;
}

// seconds of 44.1 kHz stereo silence in the format the name's extension
// says, tagged with artist and title (none when both are empty).
std::string MakeTrack(TempDir& dir, const std::string& name, double seconds,
                      const std::string& artist, const std::string& title) {
  const std::string raw = dir.Join("silence.raw");
  std::ofstream(raw, std::ios::binary)
      << std::string(static_cast<size_t>(seconds * 44100) * 4, '\0');
  const std::string path = dir.Join(name);
  const std::string ext = name.substr(name.find_last_of('.'));
  const std::string in = "'" + raw + "'", out = "'" + path + "'";
  const bool tagged = !artist.empty() || !title.empty();
  std::string command;
  if (ext == ".flac")
    command = "flac -s -f --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 "
              "--sample-rate=44100 " +
              (tagged ? "-T 'ARTIST=" + artist + "' -T 'TITLE=" + title + "' " : "") + in +
              " -o " + out;
  else if (ext == ".ogg")
    command = "oggenc -Q -r -B 16 -C 2 -R 44100 " +
              (tagged ? "-a '" + artist + "' -t '" + title + "' " : "") + in + " -o " + out;
  else if (ext == ".opus")
    command = "opusenc --quiet --raw --raw-rate 44100 " +
              (tagged ? "--artist '" + artist + "' --title '" + title + "' " : "") + in + " " + out;
  else
    command = "lame --quiet -r -s 44.1 --bitwidth 16 " +
              (tagged ? "--ta '" + artist + "' --tt '" + title + "' " : "") + in + " " + out;
  command = "LC_ALL=C.UTF-8 timeout 60 " + command + " 2>/dev/null";
  EXPECT_EQ(system(command.c_str()), 0) << command;
  return path;
}

// The elapsed seconds line 2 shows for track (1-based), or -1.
int Shown(const DisplayFrame& frame, int track, bool paused = false) {
  const std::string head = "Trk " + std::to_string(track) + (paused ? " [" : " (");
  if (frame.line2.rfind(head, 0) != 0) return -1;
  int minutes = 0, seconds = 0;
  if (sscanf(frame.line2.c_str() + head.size(), "%d:%d", &minutes, &seconds) != 2) return -1;
  return minutes * 60 + seconds;
}

// Waits for line 2 to show track at least from seconds in; the seconds shown.
int WaitShown(Session& s, int track, int from, bool paused = false, int timeoutMs = 15000) {
  int shown = -1;
  s.WaitForFrame(
      [&](const DisplayFrame& frame) {
        shown = Shown(frame, track, paused);
        return shown >= from;
      },
      s.Frames().size(), timeoutMs);
  return shown;
}

class Mpv : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTools()) GTEST_SKIP() << "mpv or an encoder is not installed";
  }
  Session s{RealDecoders()};
};

TEST_F(Mpv, EveryFormatIsScannedAndPlayedInByteOrderWithItsTitle) {
  s.dir().MakeDir("music");
  MakeTrack(s.dir(), "music/1 one.flac", 1, "Band", "Flac Song");
  MakeTrack(s.dir(), "music/2 two.ogg", 1, "Singer", "Vorbis Song");
  MakeTrack(s.dir(), "music/3 three.opus", 1, "", "");
  MakeTrack(s.dir(), "music/4 four.MP3", 1, "Crew", "Mpeg Song");
  s.dir().Write("music/5 notes.txt", "not music\n");
  s.StartOn({"-p", "mpv", "-r", s.dir().Join("music")});
  EXPECT_EQ(s.WaitExit(30000), 0) << s.Trace();
  EXPECT_EQ(TrackLines(s), (Lines{"Track 1: \"Band - Flac Song\"", "Track 2: \"Singer - Vorbis Song\"",
                                  "Track 3: \"3 three\"", "Track 4: \"Crew - Mpeg Song\""}))
      << s.Trace();
  EXPECT_TRUE(s.NothingLeftWithin(kWaitMs)) << LeftoverChildren();
}

TEST_F(Mpv, AFileItCannotPlayIsTracedWithItsReasonAndSkipped) {
  const std::string bad = s.dir().Write("bad.flac", "fLaC but nothing after it");
  const std::string good = MakeTrack(s.dir(), "good.ogg", 1, "Band", "Good");
  s.StartOn({"-p", "mpv", bad, good});
  EXPECT_EQ(s.WaitExit(30000), 0) << s.Trace();
  EXPECT_EQ(TrackLines(s), Lines{"Track 2: \"Band - Good\""}) << s.Trace();
  EXPECT_NE(s.Trace().find("unrecognized file format"), std::string::npos) << s.Trace();
}

TEST_F(Mpv, PauseJumpsNeighboursAndVolumeGoThroughMpv) {
  const Lines list = {MakeTrack(s.dir(), "a.flac", 2, "A", "First"),
                      MakeTrack(s.dir(), "b.flac", 30, "B", "Second"),
                      MakeTrack(s.dir(), "c.flac", 30, "C", "Third")};
  s.StartOn({"-p", "mpv", list[0], list[1], list[2]});
  // Past the first track's last second: the second's own time.
  ASSERT_GE(WaitShown(s, 2, 2), 2) << s.Trace();
  ASSERT_TRUE(s.Press(kPause));
  const int paused = WaitShown(s, 2, 0, true);
  ASSERT_GE(paused, 2);
  s.Pump(1500);
  EXPECT_EQ(Shown(s.Frames().back(), 2, true), paused);  // the time stands
  ASSERT_TRUE(s.Press(kPlay));
  EXPECT_GE(WaitShown(s, 2, paused + 1), paused + 1);
  // Seek mode: next is a jump of 200 frames, 5.2 s at 44.1 kHz.
  ASSERT_TRUE(s.Press(kMode));
  ASSERT_TRUE(s.Press(kJunk));  // else the second press is a repeat
  ASSERT_TRUE(s.Press(kMode));
  const int before = Shown(s.Frames().back(), 2);
  ASSERT_TRUE(s.Press(kNext));
  const int after = WaitShown(s, 2, before + 4);
  EXPECT_GE(after, before + 4) << s.Trace();
  EXPECT_LE(after, before + 8);
  ASSERT_TRUE(s.Press(kJunk));
  ASSERT_TRUE(s.Press(kMode));  // track mode again
  ASSERT_TRUE(s.Press(kNext));
  EXPECT_TRUE(s.WaitForTrace("Track 3: \"C - Third\"")) << s.Trace();
  ASSERT_TRUE(s.Press(kPrevious));
  EXPECT_TRUE(s.WaitFor([&] { return s.CountTrace("Track 2: \"B - Second\"") == 2; }));
  EXPECT_TRUE(s.WaitForTrace("Mixer: decoder", 0));
  ASSERT_TRUE(s.Press(kVolumeDown));
  EXPECT_TRUE(s.WaitForTrace("Volume=95%"));
  ASSERT_TRUE(s.Press(kQuit));
  EXPECT_EQ(s.WaitExit(), 2);
  EXPECT_TRUE(s.NothingLeftWithin(kWaitMs)) << LeftoverChildren();
}

TEST_F(Mpv, KilledMidTrackItIsStartedAgainOnTheSameEntry) {
  const Lines list = {MakeTrack(s.dir(), "a.flac", 1, "A", "First"),
                      MakeTrack(s.dir(), "b.flac", 20, "B", "Second")};
  s.StartOn({"-p", "mpv", list[0], list[1]});
  ASSERT_GE(WaitShown(s, 2, 1), 1) << s.Trace();
  const pid_t mpv = s.DecoderPid("mpv");
  ASSERT_GT(mpv, 0);
  kill(mpv, SIGKILL);
  EXPECT_TRUE(s.WaitForTrace("mpv process ended, starting it again")) << s.Trace();
  EXPECT_TRUE(s.WaitFor([&] { return s.CountTrace("Track 2: \"B - Second\"") == 2; }, 3000))
      << s.Trace();
  EXPECT_GE(WaitShown(s, 2, 0), 0);
}

TEST(MpvMissing, StartUpEndsNamingIt) {
  SessionOptions options;
  options.decoder = Decoder::Missing;
  Session s(options);
  s.StartOn({"-p", "mpv", "a.flac"});
  EXPECT_EQ(s.WaitExit(2000), 1);
  EXPECT_TRUE(s.WaitForTrace("Unable to find mpv in PATH!", 0)) << s.Trace();
  EXPECT_TRUE(s.NothingLeftWithin(kWaitMs)) << LeftoverChildren();
}

// Resume: a first player is killed outright, a second one starts on the same
// state file.
class Resume : public Mpv {
 protected:
  std::string state() { return s.dir().Join("state"); }
  Lines Tracks() {
    return {MakeTrack(s.dir(), "1.flac", 1, "A", "One"), MakeTrack(s.dir(), "2.flac", 30, "B", "Two"),
            MakeTrack(s.dir(), "3.flac", 30, "C", "Three")};
  }
  // Plays until track 2 shows 3 s, then pause, and play again unless
  // leavePaused; the player is then killed.
  int PlayAndKill(const Lines& list, bool leavePaused) {
    s.StartOn({"-p", "mpv", "-S", state(), list[0], list[1], list[2]});
    const int at = WaitShown(s, 2, 3);
    EXPECT_GE(at, 3) << s.Trace();
    EXPECT_TRUE(s.Press(kPause));
    if (!leavePaused) {
      EXPECT_TRUE(s.Press(kPlay));
    }
    s.Pump(500);
    s.Signal(SIGKILL);
    s.WaitExit();
    return at;
  }
};

TEST_F(Resume, AfterAKillMidTrackTheSameListGoesOnThere) {
  const Lines list = Tracks();
  const int at = PlayAndKill(list, false);
  Session again(RealDecoders());
  again.StartOn({"-p", "mpv", "-S", state(), list[0], list[1], list[2]});
  const int shown = WaitShown(again, 2, 0);
  EXPECT_GE(shown, at - 1) << again.Trace();
  EXPECT_LE(shown, at + 3);
  EXPECT_EQ(again.CountTrace("Track 1: \"A - One\""), 0u) << again.Trace();
}

TEST_F(Resume, APausedTrackResumesPaused) {
  const Lines list = Tracks();
  const int at = PlayAndKill(list, true);
  Session again(RealDecoders());
  again.StartOn({"-p", "mpv", "-S", state(), list[0], list[1], list[2]});
  const int shown = WaitShown(again, 2, 0, true);
  EXPECT_GE(shown, at - 1) << again.Trace();
  again.Pump(1500);
  EXPECT_EQ(Shown(again.Frames().back(), 2, true), shown);
}

TEST_F(Resume, AnotherListStartsAtTheFirstEntry) {
  const Lines list = Tracks();
  PlayAndKill(list, false);
  Session again(RealDecoders());
  again.StartOn({"-p", "mpv", "-S", state(), list[1], list[2]});
  EXPECT_TRUE(again.WaitForTrace("Track 1: \"B - Two\"")) << again.Trace();
  EXPECT_GE(WaitShown(again, 1, 0), 0);
}

TEST_F(Resume, AGarbageStateIsTracedAndReplaced) {
  const Lines list = Tracks();
  std::string garbage;
  for (int i = 0; i < 300; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
  s.dir().Write("state", garbage);
  s.StartOn({"-p", "mpv", "-S", state(), list[0], list[1], list[2]});
  EXPECT_TRUE(s.WaitForTrace("State file makes no sense, starting from the first entry")) << s.Trace();
  EXPECT_TRUE(s.WaitForTrace("Track 1: \"A - One\""));
  EXPECT_TRUE(s.WaitFor([&] { return ReadWholeFile(state()).rfind("norvelo state 1\n", 0) == 0; }));
}

// mpg123 (the fake) resumes by its jump in seconds, paused again if it was.
TEST(ResumeMpg123, TheDecoderIsToldTheEntryThePositionAndThePause) {
  Session s;
  const std::string state = s.dir().Join("state");
  s.StartOn({"-S", state, "/m/1.mp3", "/m/2.mp3", "/m/3.mp3"});
  ASSERT_TRUE(s.WaitForCommand("LOAD /m/1.mp3")) << s.Trace();
  ASSERT_TRUE(s.Press(kNext));
  ASSERT_TRUE(s.WaitForCommand("LOAD /m/2.mp3"));
  s.DecoderSays("@F 900 100 23.50 2.61\n");
  ASSERT_TRUE(s.Sync());
  ASSERT_TRUE(s.Press(kPause));
  ASSERT_TRUE(s.WaitFor([&] { return ReadWholeFile(state).find("state paused") != std::string::npos; }));
  s.Signal(SIGKILL);
  s.WaitExit();

  Session again;
  again.StartOn({"-S", state, "/m/1.mp3", "/m/2.mp3", "/m/3.mp3"});
  ASSERT_TRUE(again.WaitForCommand("LOAD /m/2.mp3")) << again.Trace();
  EXPECT_TRUE(again.WaitForCommand("PAUSE")) << again.Trace();
  bool jumped = false;
  for (const std::string& command : again.Commands())
    jumped = jumped || command.rfind("JUMP 23.", 0) == 0;
  EXPECT_TRUE(jumped) << ::testing::PrintToString(again.Commands());
  EXPECT_EQ(again.CountCommand("LOAD /m/1.mp3"), 0u);
}

}  // namespace
}  // namespace e2e
