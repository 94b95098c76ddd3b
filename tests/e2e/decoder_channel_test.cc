// The decoder channel end to end: status lines written by the stand-in
// decoder, the commands and trace that come back.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

std::string Pad(const std::string& text, size_t width) {
  std::string padded = text;
  padded.resize(width, ' ');
  return padded;
}

// "@I ID3:" and the three 30-character fields title, artist, album.
std::string Id3Line(const std::string& title, const std::string& artist,
                    const std::string& album) {
  return "@I ID3:" + Pad(title, 30) + Pad(artist, 30) + Pad(album, 30) + "2001" +
         Pad("", 30) + "Rock";
}

class Channel : public ::testing::Test {
 protected:
  void StartWith(const Lines& list) {
    s.StartOn(list);
    ASSERT_TRUE(s.WaitReady());
    ASSERT_TRUE(s.WaitForCommand("LOAD " + list[0]));
  }

  void Key(uint16_t code) {
    ASSERT_TRUE(s.Press(code));
    ASSERT_TRUE(s.Sync());
  }

  // What the decoder's text made the player send, once it was all handled.
  Lines After(const std::string& text) {
    const size_t mark = s.Commands().size();
    s.DecoderSays(text);
    EXPECT_TRUE(s.Sync());
    return s.CommandsSince(mark);
  }

  // Trace lines added by the decoder's text, the sync echo left out.
  Lines TraceAfter(const std::string& text) {
    const size_t mark = s.TraceLines().size();
    After(text);
    const Lines all = s.TraceLines();
    Lines lines;
    for (size_t i = mark; i < all.size(); ++i)
      if (all[i].rfind("#sync ", 0) != 0) lines.push_back(all[i]);
    return lines;
  }

  Session s;
};

TEST_F(Channel, TrackEndsAdvanceAndTheLastEndsTheProgram) {
  StartWith({"a.mp3", "b.mp3", "c.mp3"});
  EXPECT_EQ(After("@P 0\n"), Lines{"LOAD b.mp3"});
  // Every ready line starts again at the first entry.
  EXPECT_EQ(After("@R MPG123 again\n"), Lines{"LOAD a.mp3"});
  EXPECT_EQ(After("@P 0\n@P 0\n"), (Lines{"LOAD b.mp3", "LOAD c.mp3"}));
  s.DecoderSays("@P 0\n");
  EXPECT_EQ(s.WaitExit(), 0);
  EXPECT_EQ(s.Commands().back(), "QUIT");
  EXPECT_EQ(LeftoverChildren(), "");
}

TEST_F(Channel, OnlyAPlayStateOfZeroWhilePlayingAdvances) {
  StartWith({"a.mp3", "b.mp3"});
  EXPECT_TRUE(After("@P 1\n@P 2\n@P 3\n@P\n@P x\n@P  \n").empty());
  Key(kStop);
  EXPECT_TRUE(After("@P 0\n").empty());
  Key(kPlay);
  EXPECT_EQ(After("@P 0\n"), Lines{"LOAD b.mp3"});
  Key(kPause);  // paused: the decoder's zero is no end of track
  EXPECT_TRUE(After("@P 0\n").empty());
}

TEST_F(Channel, UnrecognisedLinesAreEchoed) {
  StartWith({"a.mp3"});
  EXPECT_EQ(TraceAfter("@R\n@Rx\n\n@E No track loaded!\n@S 2.0 3 22050\n@F 1 2 3.5 4\n"
                       "@J 221\nsh: 1: mpg123: not found\n100% %s%n%d\n"),
            (Lines{"@R", "@Rx", "", "@E No track loaded!", "@J 221",
                   "sh: 1: mpg123: not found", "100% %s%n%d"}));
  EXPECT_EQ(s.Commands(), Lines{"LOAD a.mp3"});
}

TEST_F(Channel, TitlesFromTagFieldsAndPlainText) {
  StartWith({"a.mp3"});
  EXPECT_EQ(TraceAfter(Id3Line("Song", "Band", "") + "\n"), Lines{"Track 1: \"Band - Song\""});
  EXPECT_EQ(TraceAfter(Id3Line("", "", "") + "\n"), Lines{"Track 1: \"\""});
  // Ends within the artist field: no album.
  EXPECT_EQ(TraceAfter("@I ID3:" + Pad("T", 30) + "Art\n"), Lines{"Track 1: \"Art - T\""});
  EXPECT_EQ(TraceAfter("@I   plain text \t\n"), Lines{"Track 1: \"plain text\""});
  EXPECT_EQ(TraceAfter("@I Caf\xC3\xA9\n"), Lines{"Track 1: \"Caf\xC3\xA9\""});
  EXPECT_EQ(TraceAfter("@I 50% %s%n\n"), Lines{"Track 1: \"50% %s%n\""});
}

// A tag that clears the screen must not reach the user's terminal as such.
TEST_F(Channel, ControlBytesInTitlesAreEscaped) {
  StartWith({"a.mp3"});
  EXPECT_EQ(TraceAfter("@I {\n@I ID3v2.title:Song\x1B[2J\x1B[31mRed\n@I }\n"),
            Lines{"Track 1: \"Song\\x1B[2J\\x1B[31mRed\""});
  EXPECT_EQ(s.Trace().find('\x1B'), std::string::npos);
}

// The tag block of newer decoders gives one title, at its end.
TEST_F(Channel, TagBlockGivesOneTitle) {
  StartWith({"dir/v2.mp3", "dir/plain name.mp3"});
  EXPECT_EQ(TraceAfter("@I {\n@I ID3v2.title:Song Two\n@I ID3v2.artist:Artist\n"
                       "@I ID3v2.album:LP\n@I }\n"),
            Lines{"Track 1: \"Artist - LP - Song Two\""});
  EXPECT_EQ(TraceAfter("@I {\n" + Id3Line("V1 Title", "V1 Artist", "V1 Album") +
                       "\n@I ID3.genre:255\n@I }\n"),
            Lines{"Track 1: \"V1 Artist - V1 Album - V1 Title\""});
  After("@P 0\n");
  EXPECT_EQ(TraceAfter("@I {\n@I ID3.genre:255\n@I }\n"), Lines{"Track 2: \"plain name\""});
}

TEST_F(Channel, LinesSplitAcrossReadsAndSeveralInOneRead) {
  StartWith({"a.mp3", "b.mp3"});
  s.DecoderSays("@I Spl");
  s.Pump(50);
  s.DecoderSays("it Ti");
  s.Pump(50);
  EXPECT_EQ(TraceAfter("tle\n@I One\n@I Two\n@I Three\n"),
            (Lines{"Track 1: \"Split Title\"", "Track 1: \"One\"", "Track 1: \"Two\"",
                   "Track 1: \"Three\""}));
}

// An overlong line is cut, and the line after it is read as usual.
TEST_F(Channel, OverlongLinesAreCutAndTheChannelRecovers) {
  StartWith({"a.mp3", "b.mp3"});
  const Lines echoed = TraceAfter("#" + std::string(2999, 'x') + "\n@I After\n");
  ASSERT_EQ(echoed.size(), 2u);
  EXPECT_LE(echoed[0].size(), 511u);
  EXPECT_GE(echoed[0].size(), 100u);
  EXPECT_EQ(echoed[0].find_first_not_of('x', 1), std::string::npos);
  EXPECT_EQ(echoed[1], "Track 1: \"After\"");

  const std::string longTitle = "T" + std::string(399, 'y');
  const Lines title = TraceAfter("@I " + longTitle + "\n");
  ASSERT_EQ(title.size(), 1u);
  const std::string prefix = "Track 1: \"";
  ASSERT_EQ(title[0].rfind(prefix, 0), 0u);
  const std::string shown = title[0].substr(prefix.size(), title[0].size() - prefix.size() - 1);
  EXPECT_LE(shown.size(), 127u);
  EXPECT_EQ(longTitle.rfind(shown, 0), 0u);
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return f.line1 == "T" + std::string(15, 'y'); }));
  EXPECT_EQ(After("@P 0\n"), Lines{"LOAD b.mp3"});
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
}

}  // namespace
}  // namespace e2e
