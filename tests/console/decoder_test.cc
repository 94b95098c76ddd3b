#include <gtest/gtest.h>

#include <fstream>

#include "console/decoder.h"
#include "console/transport.h"
#include "fixture.h"

namespace {
void Feed(TestPlayer& p, const std::string& text) { p.Feed(text); }

std::string Id3Line(const std::string& title, const std::string& artist,
                    const std::string& album) {
  auto pad = [](std::string s) {
    s.resize(30, ' ');
    return s;
  };
  return "@I ID3:" + pad(title) + pad(artist) + pad(album) + "2001Comment";
}
}  // namespace

TEST(DecoderChannel, LinesAreCutAcrossReads) {
  TestPlayer p;
  Feed(p, "@F 1 2 1.50 9.0\n@F 3 4 2.");
  EXPECT_FLOAT_EQ(p.state.now.elapsedSeconds, 1.5f);
  Feed(p, "61 23.51\n");
  EXPECT_FLOAT_EQ(p.state.now.elapsedSeconds, 2.61f);
  Feed(p, "@I one\n@I two\nrandom text\n");
  EXPECT_EQ(p.TakeTrace(), "Track 1: \"one\"\nTrack 1: \"two\"\nrandom text\n");
  Feed(p, "\n");
  EXPECT_EQ(p.TakeTrace(), "\n");  // an empty line is echoed as one
}

// A tag or a decoder message must not reach the terminal as control bytes.
TEST(DecoderChannel, TitlesAndEchoedLinesShowControlBytesEscaped) {
  TestPlayer p;
  Feed(p, "@I Band\x1b[2J - Song\n@E bad\rname\x7f\tend\n");
  EXPECT_EQ(p.TakeTrace(), "Track 1: \"Band\\x1B[2J - Song\"\n@E bad\\x0Dname\\x7F\tend\n");
  EXPECT_EQ(p.state.now.title, "Band\x1b[2J - Song");  // only the trace is escaped
}

TEST(DecoderChannel, ReadyStartsFromTheFirstEntryEveryTime) {
  TestPlayer p;
  Feed(p, "@R MPG123 (ThOr) v10\n");
  EXPECT_EQ(p.Commands(), "LOAD /m/t1.mp3\n");
  EXPECT_TRUE(p.state.transport.playing);
  p.state.transport.track = 2;
  Feed(p, "@R again\n");
  EXPECT_EQ(p.state.transport.track, 0);
  EXPECT_EQ(p.Commands(), "LOAD /m/t1.mp3\n");
  Feed(p, "@R\n@Rx\n");
  EXPECT_EQ(p.Commands(), "");
  EXPECT_EQ(p.TakeTrace(), "@R\n@Rx\n");
}

// A decoder started in place of one that ended picks up where it was.
TEST(DecoderChannel, ReadyOfANewDecoderReloadsTheCurrentEntry) {
  TestPlayer p;
  Feed(p, "@R x\n@P 0\n@F 1 2 3.0 4.0\n@I {\n@I ID3v2.tit");
  p.Commands();
  p.Restart();
  Feed(p, "@R new\n");
  EXPECT_EQ(p.Commands(), "LOAD /m/t2.mp3\n");
  EXPECT_FALSE(p.engine.channel().inInfoBlock);
  Feed(p, "@R again\n");  // a ready line of the same decoder starts over
  EXPECT_EQ(p.Commands(), "LOAD /m/t1.mp3\n");
  Feed(p, "@P 0\n");
  p.state.transport.paused = true;
  p.Commands();
  p.Restart();
  Feed(p, "@R new\n");
  EXPECT_EQ(p.Commands(), "LOAD /m/t2.mp3\nPAUSE\n");
  EXPECT_TRUE(p.state.transport.paused);
  p.state.transport.playing = false;  // stopped: stays stopped
  p.Restart();
  Feed(p, "@R new\n");
  EXPECT_EQ(p.Commands(), "");
  TestPlayer fresh;  // never loaded: the first entry, as at start
  fresh.Restart();
  Feed(fresh, "@R new\n");
  EXPECT_EQ(fresh.Commands(), "LOAD /m/t1.mp3\n");
}

TEST(DecoderChannel, ReadyWithAnEmptyListLoadsNothing) {
  TestPlayer p(0);
  Feed(p, "@R MPG123\n");
  EXPECT_EQ(p.Commands(), "");
  EXPECT_FALSE(p.state.transport.playing);
  EXPECT_TRUE(p.exits.quits.empty());
}

TEST(DecoderChannel, EndOfTrackAdvancesOnlyWhenNotPaused) {
  TestPlayer p;
  Feed(p, "@R x\n");
  p.Commands();
  Feed(p, "@P 3\n@P 1\n@P 2\n@P\n@P x\n");
  EXPECT_EQ(p.Commands(), "");
  EXPECT_EQ(p.state.transport.track, 0);
  p.state.transport.paused = true;
  Feed(p, "@P 0\n");
  EXPECT_EQ(p.state.transport.track, 0);
  p.state.transport.paused = false;
  Feed(p, "@P 0\n");
  EXPECT_EQ(p.state.transport.track, 1);
  EXPECT_EQ(p.Commands(), "LOAD /m/t2.mp3\n");
  Feed(p, "@P 0\n@P 0\n@P 0\n");  // the last one ends the program; nothing after it
  EXPECT_EQ(p.Commands(), "LOAD /m/t3.mp3\n");
  EXPECT_EQ(p.exits.quits, std::vector<int>{0});
}

TEST(DecoderChannel, SingleLineTagReport) {
  TestPlayer p;
  Feed(p, Id3Line("Song", "Band", "") + "\n");
  EXPECT_EQ(p.state.now.title, "Band - Song");
  EXPECT_EQ(p.TakeTrace(), "Track 1: \"Band - Song\"\n");
  Feed(p, Id3Line("", "", "") + "\n");
  EXPECT_EQ(p.TakeTrace(), "Track 1: \"\"\n");
  Feed(p, Id3Line("Title", "Artist", "Album") + "\n");
  EXPECT_EQ(p.state.now.title, "Artist - Album - Title");
  Feed(p, Id3Line("T", "", "Al") + "\n");
  EXPECT_EQ(p.state.now.title, "Al - T");
  // The line ends within the second field.
  Feed(p, "@I ID3:" + std::string("Short title") + std::string(19, ' ') + "Art\n");
  EXPECT_EQ(p.state.now.title, "Art - Short title");
  Feed(p, "@I ID3:Caf\xc3\xa9" + std::string(25, ' ') + "\n");
  EXPECT_EQ(p.state.now.title, "Caf\xc3\xa9");
}

TEST(DecoderChannel, TagBlockGivesOneTitle) {
  TestPlayer p;
  Feed(p, "@I {\n@I ID3v2.title:Song Two\n@I ID3v2.artist:Artist\n@I ID3v2.album:LP\n"
          "@I ID3.genre:255\n@I }\n");
  EXPECT_EQ(p.TakeTrace(), "Track 1: \"Artist - LP - Song Two\"\n");
  // Only the fixed-width fields: the same join rule.
  Feed(p, "@I {\n" + Id3Line("V1 Title", "V1 Band", "V1 Album") + "\n@I ID3.genre:255\n@I }\n");
  EXPECT_EQ(p.state.now.title, "V1 Band - V1 Album - V1 Title");
  // Both: the longer, uncut ID3v2 fields win.
  const std::string longTitle(45, 'x');
  Feed(p, "@I {\n" + Id3Line(longTitle, "B", "") + "\n@I ID3v2.title:" + longTitle +
              "\n@I ID3v2.artist:B\n@I }\n");
  EXPECT_EQ(p.state.now.title, "B - " + longTitle);
  // No usable field: the file's own name.
  p.TakeTrace();
  Feed(p, "@I {\n@I ID3.genre:12\n@I }\n");
  EXPECT_EQ(p.TakeTrace(), "Track 1: \"t1\"\n");
}

TEST(DecoderChannel, CutOffTagBlockDoesNotSwallowLaterTitles) {
  TestPlayer p;
  Feed(p, "@I {\n@I ID3v2.title:Lost\n@P 2\n@I plain\n");
  EXPECT_EQ(p.state.now.title, "plain");
}

// The display's 127 characters are counted after the conversion, the trace's
// bytes before it.
TEST(DecoderChannel, TitleIsConvertedWholeThenCut) {
  TestPlayer p;
  std::string accents;
  for (int i = 0; i < 130; ++i) accents += "\xc3\xa9";
  Feed(p, "@I " + accents + "\n");
  EXPECT_EQ(p.state.display.title, std::string(127, '\xe9'));
  EXPECT_EQ(p.state.now.title, accents.substr(0, 126));
}

TEST(DecoderChannel, OverlongInputStaysBounded) {
  TestPlayer p;
  Feed(p, "@I " + std::string(400, 'a') + "\n");
  EXPECT_EQ(p.state.now.title, std::string(127, 'a'));
  // A multi-byte letter at the cut is not split.
  Feed(p, "@I " + std::string(126, 'a') + "\xc3\xa9tail\n");
  EXPECT_EQ(p.state.now.title, std::string(126, 'a'));
  p.TakeTrace();
  const std::string huge(3000, 'z');
  Feed(p, huge.substr(0, 1000));
  Feed(p, huge.substr(1000) + "\n@F 0 0 7.5 1\n");
  EXPECT_EQ(p.TakeTrace(), std::string(kMaxDecoderLine, 'z') + "\n");
  EXPECT_FLOAT_EQ(p.state.now.elapsedSeconds, 7.5f);
}

TEST(DecoderChannel, ProgressNeedsTheThirdNumber) {
  TestPlayer p;
  Feed(p, "@F 100 900 2.61 23.51\n");
  EXPECT_FLOAT_EQ(p.state.now.elapsedSeconds, 2.61f);
  Feed(p, "@F 1 2\n@F x\n@F 1 2 nope\n");
  EXPECT_FLOAT_EQ(p.state.now.elapsedSeconds, 2.61f);
  Feed(p, "@F 1 2 3.25\n");
  EXPECT_FLOAT_EQ(p.state.now.elapsedSeconds, 3.25f);
}

TEST(DecoderChannel, LongPathsAreSentWhole) {
  TestPlayer p(1);
  p.state.transport.playlist[0] = "/music/" + std::string(200, 'p') + ".mp3";
  LoadTrack(p.state.transport, p.engine);
  EXPECT_EQ(p.Commands(), "LOAD " + p.state.transport.playlist[0] + "\n");
}

// The recorded output of the real decoder, fed back a line at a time.
TEST(DecoderChannel, RecordedDecoderSession) {
  std::ifstream file(NORVELO_TEST_DATA "/mpg123-1.31-remote.txt");
  ASSERT_TRUE(file.good());
  TestPlayer p(5);
  std::string line, output;
  while (std::getline(file, line))
    if (line.compare(0, 2, "< ") == 0) output += line.substr(2) + "\n";
  // Feed in reads of 127 bytes, as the main loop does.
  for (size_t at = 0; at < output.size() && p.exits.quits.empty(); at += 127)
    Feed(p, output.substr(at, 127));
  const std::string trace = p.TakeTrace();
  EXPECT_NE(trace.find("Track 1: \"Band - Album - Song Title Long Enough To Scro\"\n"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("Track 2: \"Artist - LP - Song Two\"\n"), std::string::npos);
  EXPECT_NE(trace.find("Track 3: \"Both Artist - Both Album - Both Title\"\n"), std::string::npos);
  EXPECT_NE(trace.find("Track 4: \"a\"\n"), std::string::npos);
  EXPECT_NE(trace.find("Track 5: \"long\"\n"), std::string::npos);
  EXPECT_EQ(trace.find("\"}\""), std::string::npos);
  EXPECT_EQ(p.Commands(),
            "LOAD /m/t1.mp3\nLOAD /m/t2.mp3\nLOAD /m/t3.mp3\nLOAD /m/t4.mp3\nLOAD /m/t5.mp3\n");
  EXPECT_EQ(p.exits.quits, std::vector<int>{0});
}
