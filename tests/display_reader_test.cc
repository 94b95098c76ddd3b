#include "link/display_reader.h"

#include <gtest/gtest.h>

#include "link/link.h"

namespace {
std::vector<DisplayLines> FeedAll(DisplayFrameReader& parser, const std::string& bytes) {
  return parser.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::vector<DisplayLines> FeedAndFlush(DisplayFrameReader& parser, const std::string& bytes) {
  std::vector<DisplayLines> frames = FeedAll(parser, bytes);
  DisplayLines last;
  if (parser.Flush(last)) frames.push_back(last);
  return frames;
}

const std::string kFrame = BuildDisplayFrame("Song title here!", "Trk 1 (0:05)    ", false);
}  // namespace

TEST(DisplayFrameReader, FrameIsCompleteAtTheNextStartOrWhenFlushed) {
  DisplayFrameReader parser;
  EXPECT_TRUE(FeedAll(parser, kFrame).empty());
  EXPECT_TRUE(parser.Pending());
  const auto frames = FeedAll(parser, kFrame);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].line1, "Song title here!");
  EXPECT_EQ(frames[0].line2, "Trk 1 (0:05)    ");
  DisplayLines last;
  ASSERT_TRUE(parser.Flush(last));
  EXPECT_EQ(last, frames[0]);
  EXPECT_FALSE(parser.Pending());
  EXPECT_FALSE(parser.Flush(last));
}

TEST(DisplayFrameReader, PiecesAndMergedFramesGiveTheSameFrames) {
  const std::string second = BuildDisplayFrame("Other", "Trk 2 (stop)", true);
  DisplayFrameReader whole;
  const auto expected = FeedAndFlush(whole, kFrame + second);
  ASSERT_EQ(expected.size(), 2u);
  EXPECT_EQ(expected[1].line1, "           Other");

  DisplayFrameReader bytewise;
  std::vector<DisplayLines> got;
  for (char c : kFrame + second)
    for (const auto& f : FeedAll(bytewise, std::string(1, c))) got.push_back(f);
  DisplayLines last;
  ASSERT_TRUE(bytewise.Flush(last));
  got.push_back(last);
  EXPECT_EQ(got, expected);
}

TEST(DisplayFrameReader, LongLinesAndHighBytesStayWhole) {
  DisplayFrameReader parser;
  const auto frames = FeedAndFlush(parser, BuildDisplayFrame("Caf\xE9 and \x81\xFF more", ">>>>>>>>>>>>>>>> ", false));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].line1, "Caf\xE9 and \x81\xFF more");
  EXPECT_EQ(frames[0].line2.size(), 17u);
}

TEST(DisplayFrameReader, BytesOutsideAFrameAreDropped) {
  DisplayFrameReader parser;
  const auto frames = FeedAndFlush(parser, std::string("noise\xA8more") + kFrame);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].line1, "Song title here!");
}

TEST(DisplayFrameReader, LineOneAloneIsNotAFrame) {
  DisplayFrameReader parser;
  FeedAll(parser, "\x80only line one");
  DisplayLines last;
  EXPECT_FALSE(parser.Flush(last));
  // A new start abandons it.
  EXPECT_TRUE(FeedAll(parser, kFrame).empty());
  ASSERT_TRUE(parser.Flush(last));
  EXPECT_EQ(last.line1, "Song title here!");
}

TEST(DisplayFrameReader, BytesAfterAFlushExtendTheFrame) {
  DisplayFrameReader parser;
  const std::string head = kFrame.substr(0, kFrame.size() - 4);
  FeedAll(parser, head);
  DisplayLines first, second;
  ASSERT_TRUE(parser.Flush(first));
  EXPECT_EQ(first.line2, "Trk 1 (0:05)");
  FeedAll(parser, kFrame.substr(kFrame.size() - 4));
  ASSERT_TRUE(parser.Flush(second));
  EXPECT_EQ(second.line2, "Trk 1 (0:05)    ");
  // A frame already shown whole is not reported again by the next start.
  EXPECT_TRUE(FeedAll(parser, "\x80").empty());
}

TEST(DisplayFrameReader, EndlessLineStopsGrowing) {
  DisplayFrameReader parser;
  FeedAll(parser, "\x80\xA8" + std::string(100000, 'x'));
  DisplayLines last;
  ASSERT_TRUE(parser.Flush(last));
  EXPECT_EQ(last.line2.size(), kMaxDisplayLine);
}

// The unit starts line 2 at any 0xA8; a reader that knows the host's line 1
// is 16 wide keeps one inside a title as text. A frame carries the time of
// the bytes that began it.
TEST(DisplayFrameReader, KnownLineOneWidthKeepsTheMarkerInATitle) {
  const std::string title = "Caf\xE9 \xA8 bar      ";
  // As a host that passes the marker through would send it.
  const std::string bytes = "\x80" + title + "\xA8" + "Trk 1 (0:05)    ";
  DisplayFrameReader unit, wide(kDisplayWidth);
  DisplayLines asUnit, asWide;
  FeedAll(unit, bytes);
  wide.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), 3, 7);
  wide.Feed(reinterpret_cast<const uint8_t*>(bytes.data()) + 3, bytes.size() - 3, 9);
  ASSERT_TRUE(unit.Flush(asUnit) && wide.Flush(asWide));
  EXPECT_EQ(asUnit.line1, "Caf\xE9 ");
  EXPECT_EQ(asWide.line1, title);
  EXPECT_EQ(asWide.line2, "Trk 1 (0:05)    ");
  EXPECT_EQ(asWide.at, 7);
}
