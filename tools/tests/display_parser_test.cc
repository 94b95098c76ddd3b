#include "tools/unit/display_parser.h"

#include <gtest/gtest.h>

#include "link/link.h"

namespace {
std::vector<DisplayLines> FeedAll(DisplayFrameParser& parser, const std::string& bytes) {
  return parser.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::vector<DisplayLines> FeedAndFlush(DisplayFrameParser& parser, const std::string& bytes) {
  std::vector<DisplayLines> frames = FeedAll(parser, bytes);
  DisplayLines last;
  if (parser.Flush(last)) frames.push_back(last);
  return frames;
}

const std::string kFrame = BuildDisplayFrame("Song title here!", "Trk 1 (0:05)    ", false);
}  // namespace

TEST(DisplayFrameParser, FrameIsCompleteAtTheNextStartOrWhenFlushed) {
  DisplayFrameParser parser;
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

TEST(DisplayFrameParser, PiecesAndMergedFramesGiveTheSameFrames) {
  const std::string second = BuildDisplayFrame("Other", "Trk 2 (stop)", true);
  DisplayFrameParser whole;
  const auto expected = FeedAndFlush(whole, kFrame + second);
  ASSERT_EQ(expected.size(), 2u);
  EXPECT_EQ(expected[1].line1, "           Other");

  DisplayFrameParser bytewise;
  std::vector<DisplayLines> got;
  for (char c : kFrame + second)
    for (const auto& f : FeedAll(bytewise, std::string(1, c))) got.push_back(f);
  DisplayLines last;
  ASSERT_TRUE(bytewise.Flush(last));
  got.push_back(last);
  EXPECT_EQ(got, expected);
}

TEST(DisplayFrameParser, LongLinesAndHighBytesStayWhole) {
  DisplayFrameParser parser;
  const auto frames = FeedAndFlush(parser, BuildDisplayFrame("Caf\xE9 and \x81\xFF more", ">>>>>>>>>>>>>>>> ", false));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].line1, "Caf\xE9 and \x81\xFF more");
  EXPECT_EQ(frames[0].line2.size(), 17u);
}

TEST(DisplayFrameParser, BytesOutsideAFrameAreDropped) {
  DisplayFrameParser parser;
  const auto frames = FeedAndFlush(parser, std::string("noise\xA8more") + kFrame);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].line1, "Song title here!");
}

TEST(DisplayFrameParser, LineOneAloneIsNotAFrame) {
  DisplayFrameParser parser;
  FeedAll(parser, "\x80only line one");
  DisplayLines last;
  EXPECT_FALSE(parser.Flush(last));
  // A new start abandons it.
  EXPECT_TRUE(FeedAll(parser, kFrame).empty());
  ASSERT_TRUE(parser.Flush(last));
  EXPECT_EQ(last.line1, "Song title here!");
}

TEST(DisplayFrameParser, BytesAfterAFlushExtendTheFrame) {
  DisplayFrameParser parser;
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

TEST(DisplayFrameParser, EndlessLineStopsGrowing) {
  DisplayFrameParser parser;
  FeedAll(parser, "\x80\xA8" + std::string(100000, 'x'));
  DisplayLines last;
  ASSERT_TRUE(parser.Flush(last));
  EXPECT_EQ(last.line2.size(), kMaxDisplayLine);
}
