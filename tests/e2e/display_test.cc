// DisplayFrames on the line: the status forms, the volume bar, the mode
// letter and the title ticker, as the control unit would receive them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

std::string Spaces(size_t n) { return std::string(n, ' '); }

// Line 2 right after a volume key, in seek mode 1.
std::string BarLine(int volume) {
  const std::string bar(static_cast<size_t>(std::min(volume, 100) * 16 / 100), '>');
  return bar + Spaces(bar.size() < 15 ? 15 - bar.size() : 0) + " ";
}

class Display : public ::testing::Test {
 protected:
  void StartWith(const std::vector<std::string>& list, bool ready = true) {
    if (ready) {
      s.StartOn(list);
    } else {
      s.Start({"-s", s.slave()});
    }
  }

  // Waits for a frame, sent after everything so far, whose line 2 is line2.
  void ExpectLine2(const std::string& line2) {
    EXPECT_TRUE(s.WaitForLine2(line2, mark_)) << "last: [" << LastLine2() << "]";
    mark_ = s.Frames().size();
  }

  void Mark() { mark_ = s.Frames().size(); }

  // Never taken for a repeat: a code in no slot goes first.
  void Key(uint16_t code) {
    Mark();
    ASSERT_TRUE(s.Press(kJunk));
    ASSERT_TRUE(s.Press(code));
    ASSERT_TRUE(s.Sync());
  }

  void Decoder(const std::string& text) {
    Mark();
    s.DecoderSays(text);
    ASSERT_TRUE(s.Sync());
  }

  std::string LastLine2() const {
    const std::vector<DisplayFrame> frames = s.Frames();
    return frames.empty() ? "(none)" : frames.back().line2;
  }

  Session s;
  size_t mark_ = 0;
};

TEST_F(Display, BeforeAnyTrackTheStopStatusAndBlankTitle) {
  SessionOptions quiet;
  quiet.ready = "";
  Session silent(quiet);
  silent.StartOn({"a.mp3"});
  ASSERT_TRUE(silent.WaitReady());
  const DisplayFrame first = silent.Frames().front();
  EXPECT_EQ(first.line1, Spaces(16));
  EXPECT_EQ(first.line2, "Trk 1 (stop)" + Spaces(3) + " ");
}

TEST_F(Display, StatusFormsThroughPlayPauseMuteStopAndModes) {
  StartWith({"a.mp3", "b.mp3"});
  ASSERT_TRUE(s.WaitReady());
  Decoder("@I Song\n@F 100 900 125.9 23.51\n");
  ExpectLine2("Trk 1 (2:05)" + Spaces(3) + " ");
  EXPECT_EQ(s.Frames().back().line1, "Song" + Spaces(12));

  Key(kPause);
  ExpectLine2("Trk 1 [2:05]" + Spaces(3) + " ");
  Key(kMute);
  EXPECT_TRUE(s.WaitForTrace("Volume=0%"));
  ExpectLine2(Spaces(15) + " ");  // the empty bar, at once
  ExpectLine2("Trk 1 [2:05] M  ");
  Key(kMode);
  ExpectLine2("Trk 1 [2:05] M T");
  Key(kMode);
  Decoder("@F 0 0 3725.0 0\n");
  ExpectLine2("Trk 1 [62:05] MS");  // 15 characters: no padding
  Key(kStop);
  ExpectLine2("Trk 1 (stop)   S");
  Key(kNext);  // seek mode: a jump, still stopped
  ExpectLine2("Trk 1 (stop)   S");
}

// The bar shows once; the status comes back at the next periodic refresh.
TEST_F(Display, VolumeBarShowsOnceThenTheStatusReturns) {
  StartWith({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  Decoder("@F 1 2 3.0 4\n");
  ExpectLine2("Trk 1 (0:03)" + Spaces(3) + " ");
  Key(kVolumeUp);
  ExpectLine2(BarLine(100));
  ExpectLine2("Trk 1 (0:03)" + Spaces(3) + " ");
  Key(kVolumeDown);
  ExpectLine2(BarLine(95));
  ExpectLine2("Trk 1 (0:03)" + Spaces(3) + " ");
}

// "Trk 100 (0:00) M" is 16 characters: the letter follows unpadded.
TEST_F(Display, ThreeDigitTrackWithMuteMakesALongerLine) {
  std::vector<std::string> list;
  for (int i = 1; i <= 100; ++i) list.push_back(std::to_string(i) + ".mp3");
  StartWith(list);
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitForCommand("LOAD 1.mp3"));
  Mark();
  // Tens mode: nine steps of ten; then track mode and nine steps of one.
  std::vector<uint16_t> keys = {kMode};
  for (int i = 0; i < 9; ++i) keys.insert(keys.end(), {kNext, kJunk});
  keys.insert(keys.end(), {kMode, kJunk, kMode});
  for (int i = 0; i < 9; ++i) keys.insert(keys.end(), {kNext, kJunk});
  s.SendBurst(keys);
  ASSERT_TRUE(s.WaitForCommand("LOAD 100.mp3"));
  Key(kMute);
  ExpectLine2("Trk 100 (0:00) M ");
}

// Positions of an 18-character title: 0 1 2 2 1 0 0 1 ...; shorter titles stay.
TEST_F(Display, TickerMovesLongTitlesBackAndForth) {
  StartWith({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  const std::string title = "ABCDEFGHIJKLMNOPQR";
  Decoder("@I " + title + "\n");
  const size_t first = mark_;
  ASSERT_TRUE(s.WaitFor([&] { return s.Frames().size() >= first + 9; }, 10000));
  std::vector<size_t> offsets;
  std::vector<DisplayFrame> frames = s.Frames();
  size_t start = first;
  while (start < frames.size() && frames[start].line1 != title.substr(0, 16)) ++start;
  for (size_t i = start; i < start + 8 && i < frames.size(); ++i)
    offsets.push_back(title.find(frames[i].line1));
  EXPECT_EQ(offsets, (std::vector<size_t>{0, 1, 2, 2, 1, 0, 0, 1}));

  // A new title starts at its beginning; one of 16 characters never moves.
  Decoder("@I 0123456789abcdef\n");
  ASSERT_TRUE(s.WaitFor([&] { return s.Frames().size() >= mark_ + 4; }, 10000));
  frames = s.Frames();
  for (size_t i = mark_ + 1; i < frames.size(); ++i) EXPECT_EQ(frames[i].line1, "0123456789abcdef");
}

// Every refresh, forced ones included, steps the ticker.
TEST_F(Display, VolumeKeysStepTheTickerToo) {
  StartWith({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  const std::string title = "0123456789abcdefghijklmnopqrstuvwxyz";
  Decoder("@I " + title + "\n");
  ASSERT_TRUE(s.WaitFor([&] { return !s.Frames().empty() && s.Frames().back().line1 == title.substr(0, 16); }));
  const size_t before = s.Frames().size();
  for (int i = 0; i < 4; ++i) {  // each once the line has carried the last frame
    s.SendKey(kVolumeUp);
    s.Pump(200);
  }
  ASSERT_TRUE(s.WaitFor([&] { return s.CountTrace("Volume=100%") == 4 && s.Frames().size() >= before + 4; }));
  const std::vector<DisplayFrame> frames = s.Frames();
  size_t last = 0;
  for (size_t i = before; i < frames.size(); ++i) {
    const size_t offset = title.find(frames[i].line1);
    EXPECT_EQ(offset, last + 1) << i;
    last = offset;
  }
}

// A held key repeats faster than a 34-byte frame crosses the line at 2400
// baud (142 ms, and 10 more for the unit to draw it): frames keep that pace, each showing the newest volume, and
// the last one follows the last key by at most about one frame time.
TEST_F(Display, HeldVolumeKeyFramesKeepTheLinesPace) {
  StartWith({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  Mark();
  int lastKeyMs = 0;
  for (int held = 0; held <= 3000; held += 110) {
    s.SendKey(kVolumeDown);
    lastKeyMs = s.ElapsedMs();
    s.Pump(110);
  }
  ASSERT_TRUE(s.WaitFor([&] { return s.CountTrace("IR Command: 3411") == 28; }));
  s.Pump(400);
  const std::vector<DisplayFrame> frames = s.Frames();
  ASSERT_GT(frames.size(), mark_ + 15);
  // 152 ms apart on the player's side, keys 110 ms apart. One frame read late
  // makes its gap long and the next one short, so the pace is measured over
  // the whole run, and each gap only against a frame per key.
  for (size_t i = mark_ + 1; i < frames.size(); ++i)
    EXPECT_GE(frames[i].at - frames[i - 1].at, 100) << "frame " << i;
  const size_t gaps = frames.size() - 1 - mark_;
  EXPECT_GE((frames.back().at - frames[mark_].at) / static_cast<int>(gaps), 145);
  int volume = -1;
  for (const std::string& line : s.TraceLines()) sscanf(line.c_str(), "Volume=%d%%", &volume);
  const std::string bar = BarLine(volume);
  EXPECT_EQ(frames.back().line2, bar);
  EXPECT_LE(frames.back().at - lastKeyMs, 300);
}

// Today's decoder reports tags in UTF-8, whose letters hold the frame markers
// ("è" is C3 A8, "À" C3 80): the display gets one Latin-1 byte per letter,
// the trace the decoder's own text. Text that is not UTF-8 goes out as it is,
// but for the two markers and the control bytes.
TEST_F(Display, TitlesGoOutInTheDisplaysCharacters) {
  StartWith({"a.mp3"});
  ASSERT_TRUE(s.WaitReady());
  Decoder("@I Perché è così\n");
  EXPECT_TRUE(s.WaitForTrace("Track 1: \"Perché è così\""));
  EXPECT_TRUE(s.WaitForFrame(
      [](const DisplayFrame& f) { return f.line1 == "Perch\xE9 \xE8 cos\xEC" + Spaces(3); }, mark_));

  Decoder("@I À la claire fontaine, m’en allant promener\n");
  ASSERT_TRUE(s.WaitFor([&] { return s.Frames().size() >= mark_ + 4; }, 10000));
  EXPECT_EQ(s.Frames()[mark_].line1, "\xC0 la claire font");
  for (const DisplayFrame& frame : s.Frames()) EXPECT_EQ(frame.line1.size(), 16u) << frame.line1;
  const std::string& line = s.LineBytes();
  EXPECT_EQ(std::count(line.begin(), line.end(), '\x80'), std::count(line.begin(), line.end(), '\xA8'));

  // Latin-1 or Windows-1252 bytes stay, but for the markers; controls are spaces.
  Decoder("@I Caf\xE9 \xA8 \x80 name\n");
  EXPECT_TRUE(s.WaitForFrame(
      [](const DisplayFrame& f) { return f.line1 == "Caf\xE9   E name" + Spaces(3); }, mark_));
  Decoder("@I Perch\xE9\n");
  EXPECT_TRUE(s.WaitForFrame(
      [](const DisplayFrame& f) { return f.line1 == "Perch\xE9" + Spaces(10); }, mark_));
  Decoder("@I Tab\there\x1B[1m\n");
  EXPECT_TRUE(s.WaitForFrame(
      [](const DisplayFrame& f) { return f.line1 == "Tab here [1m" + Spaces(4); }, mark_));
}

// NORVELO_DISPLAY_CHARSET: ascii spells accents out; a value the player does
// not know is said and latin1 is used.
TEST(DisplayCharsetChoice, AsciiAndAnUnknownValue) {
  for (const char* value : {"ascii", "utf8"}) {
    SessionOptions options;
    options.environment = {std::string("NORVELO_DISPLAY_CHARSET=") + value};
    Session s(options);
    s.StartOn({"a.mp3"});
    ASSERT_TRUE(s.WaitReady());
    s.DecoderSays("@I Perché è così\n");
    const std::string shown = value == std::string("ascii") ? "Perche e cosi" : "Perch\xE9 \xE8 cos\xEC";
    EXPECT_TRUE(s.WaitForFrame([&](const DisplayFrame& f) { return f.line1 == shown + Spaces(3); }))
        << value;
    EXPECT_EQ(s.CountTrace("NORVELO_DISPLAY_CHARSET=utf8 is not latin1, ascii or raw: titles are "
                           "shown in latin1"),
              value == std::string("utf8") ? 1u : 0u);
  }
}

}  // namespace
}  // namespace e2e
