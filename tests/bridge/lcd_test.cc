// The display side: command words, answers, what the unit shows, which
// screen wins, rotation, moving text and key reservations.
#include <gtest/gtest.h>

#include "bridge/lcd_server.h"
#include "link/link.h"

namespace {

// A server with clients that have said hello; their messages collected.
class Lcd : public ::testing::Test {
 protected:
  void Hello(int client) {
    server.Connect(client);
    Say(client, "hello");
  }
  // The answers and events this line caused, for any client, in order.
  std::string Say(int client, const std::string& line) {
    server.Handle(client, line, now);
    return Collect();
  }
  std::string Collect() {
    std::string all;
    for (const LcdMessage& m : server.TakeMessages())
      all += std::to_string(m.client) + ":" + m.text;
    return all;
  }
  Lines Shown() { return server.Render(now); }

  LcdServer server{DisplayCharset::kLatin1};
  uint64_t now = 10000;
};

TEST(LcdWords, QuotesBracesAndEscapes) {
  std::vector<std::string> words;
  std::string error;
  ASSERT_TRUE(SplitCommand("widget_set s w 1 2 {CPU [  ]} \"say \\\"hi\\\"\\t\"", words, error));
  EXPECT_EQ(words, (std::vector<std::string>{"widget_set", "s", "w", "1", "2", "CPU [  ]", "say \"hi\"\t"}));
  EXPECT_FALSE(SplitCommand("widget_set s w 1 1 \"open", words, error));
  EXPECT_FALSE(SplitCommand("widget_set s w 1 1 {open", words, error));
}

TEST_F(Lcd, HelloTellsTheGeometryAndNothingElseIsTakenBefore) {
  server.Connect(1);
  EXPECT_EQ(Say(1, "screen_add s"), "1:huh? say hello first\n");
  EXPECT_EQ(Say(1, "hello"), "1:connect LCDproc 0.5.9 protocol 0.4 lcd wid 16 hgt 2 cellwid 5 cellhgt 8\n");
  EXPECT_EQ(Say(1, "client_set -name {my client}"), "1:success\n");
}

TEST_F(Lcd, UnknownOrMalformedCommandsAreAnsweredAndTheClientStays) {
  Hello(1);
  EXPECT_EQ(Say(1, "frobnicate"), "1:huh? unknown command frobnicate\n");
  EXPECT_EQ(Say(1, "widget_set nowhere w 1 1 x"), "1:huh? unknown screen\n");
  EXPECT_EQ(Say(1, "\"unclosed"), "1:huh? no closing \"\n");
  server.LineTooLong(1);
  EXPECT_EQ(Collect(), "1:huh? line too long\n");
  Say(1, "screen_add s");
  Say(1, "widget_add s w string");
  EXPECT_EQ(Say(1, "widget_set s w one 1 Hello"), "1:huh? expected x y text\n");
  EXPECT_EQ(Say(1, "widget_add s w2 sparkles"), "1:huh? unknown widget type sparkles\n");
  EXPECT_EQ(Say(1, "screen_set s -priority urgent"), "1:huh? unknown priority\n");
  EXPECT_EQ(Say(1, "noop"), "1:success\n");
}

TEST_F(Lcd, WidgetsAreDrawnOnTwoLinesOf16) {
  Hello(1);
  EXPECT_EQ(Shown()[0], "norvelo-bridge  ");
  EXPECT_EQ(Say(1, "screen_add s"), "1:success\n1:listen s\n");
  Say(1, "widget_add s hello string");
  Say(1, "widget_set s hello 1 1 Hello");
  EXPECT_EQ(Shown(), (Lines{"Hello           ", "                "}));
  // Clipped at the edges, rows beyond the second dropped, controls blank,
  // and UTF-8 in the unit's Latin-1.
  Say(1, "widget_add s tail string");
  Say(1, "widget_set s tail 12 2 {tail end past the edge}");
  Say(1, "widget_add s below string");
  Say(1, "widget_set s below 1 3 {not shown}");
  Say(1, "widget_add s tab string");
  Say(1, "widget_set s tab 7 1 \"a\\tb\"");
  Say(1, "widget_add s accent string");
  Say(1, "widget_set s accent 1 2 {caff\xC3\xA8}");
  Say(1, "widget_add s bar hbar");
  Say(1, "widget_set s bar 7 2 12");  // 12 pixels: two cells of 5, rounded
  EXPECT_EQ(Shown(), (Lines{"Hello a b       ", "caff\xE8 ##   tail "}));
  Say(1, "widget_del s hello");
  EXPECT_EQ(Shown()[0], "      a b       ");
}

TEST_F(Lcd, HigherPriorityTakesTheDisplayAndGivesItBack) {
  Hello(1);
  Hello(2);
  Say(1, "screen_add one");
  Say(1, "widget_add one w string");
  Say(1, "widget_set one w 1 1 One");
  Say(2, "screen_add two");
  Say(2, "widget_add two w string");
  Say(2, "widget_set two w 1 1 Two");
  EXPECT_EQ(Shown()[0].substr(0, 3), "One");
  EXPECT_EQ(Say(2, "screen_set two -priority foreground"), "2:success\n1:ignore one\n2:listen two\n");
  EXPECT_EQ(Shown()[0].substr(0, 3), "Two");
  // A number is a class (193 and up: background), the dash may be left out.
  EXPECT_EQ(Say(2, "screen_set two priority 200"), "2:success\n2:ignore two\n1:listen one\n");
  EXPECT_EQ(Say(1, "screen_set one -priority hidden"), "1:success\n1:ignore one\n2:listen two\n");
  server.Disconnect(2, now);
  EXPECT_EQ(Collect(), "");
  EXPECT_EQ(Shown()[0], "norvelo-bridge  ");
}

TEST_F(Lcd, EqualScreensTakeTurnsByTheirDuration) {
  Hello(1);
  Say(1, "screen_add a");
  Say(1, "screen_set a -duration 8");  // one second
  Say(1, "screen_add b");
  EXPECT_EQ(server.Tick(now), 1000);
  now += 1000;
  server.Tick(now);
  EXPECT_EQ(Collect(), "1:ignore a\n1:listen b\n");
  EXPECT_EQ(server.Tick(now), kDefaultDurationEighths * 125);
  now += kDefaultDurationEighths * 125;
  server.Tick(now);
  EXPECT_EQ(Collect(), "1:ignore b\n1:listen a\n");
  // Alone it stays, and nothing is due.
  Say(1, "screen_del b");
  EXPECT_EQ(server.Tick(now), -1);
}

TEST_F(Lcd, LongTextMovesAndNewTextDoesNotRestartIt) {
  Hello(1);
  Say(1, "screen_add s");
  Say(1, "widget_add s t title");
  Say(1, "widget_set s t {A title that is longer than 16}");
  EXPECT_EQ(Shown()[0], "A title that is ");
  EXPECT_EQ(server.Tick(now), static_cast<int64_t>(kTitleStepMs));
  now += kTitleStepMs;
  server.Tick(now);
  EXPECT_EQ(Shown()[0], " title that is l");
  Say(1, "widget_set s t {A title that is longer than 17}");
  EXPECT_EQ(Shown()[0], " title that is l");
  Say(1, "widget_add s m scroller");
  Say(1, "widget_set s m 1 2 4 2 m 4 {abcdef}");  // four cells, twice a second
  server.Tick(now);
  EXPECT_EQ(Shown()[1].substr(0, 4), "abcd");
  now += 500;
  server.Tick(now);
  EXPECT_EQ(Shown()[1].substr(0, 4), "bcde");
}

TEST_F(Lcd, ReservedKeysGoToTheirHolder) {
  Hello(1);
  Hello(2);
  EXPECT_EQ(Say(1, "client_add_key -exclusively KEY_PLAY KEY_STOP"), "1:success\n1:success\n");
  EXPECT_EQ(Say(2, "client_add_key KEY_PLAY KEY_PAUSE"),
            "2:huh? key KEY_PLAY is held by another client\n2:success\n");
  EXPECT_EQ(server.KeyHolder("KEY_PLAY"), 1);
  EXPECT_EQ(server.KeyHolder("KEY_MUTE"), -1);
  // Shared: the client whose screen is shown, else the first to ask.
  Say(1, "client_add_key KEY_PAUSE");
  EXPECT_EQ(server.KeyHolder("KEY_PAUSE"), 2);
  Say(1, "screen_add s");
  EXPECT_EQ(server.KeyHolder("KEY_PAUSE"), 1);
  Collect();
  // A held key: the press, then from the fourth repeat on.
  for (unsigned repeat = 0; repeat < 6; ++repeat) server.SendKey(1, "KEY_PAUSE", repeat);
  EXPECT_EQ(Collect(), "1:key KEY_PAUSE\n1:key KEY_PAUSE\n1:key KEY_PAUSE\n");
  Say(1, "client_del_key KEY_PLAY");
  EXPECT_EQ(server.KeyHolder("KEY_PLAY"), -1);
}

TEST_F(Lcd, AClientCannotHoldMoreThanItsShare) {
  Hello(1);
  for (size_t i = 0; i < kMaxScreensPerClient; ++i) Say(1, "screen_add s" + std::to_string(i));
  EXPECT_EQ(Say(1, "screen_add one_more"), "1:huh? too many screens\n");
  for (size_t i = 0; i < kMaxWidgetsPerClient; ++i) Say(1, "widget_add s0 w" + std::to_string(i) + " string");
  EXPECT_EQ(Say(1, "widget_add s1 w string"), "1:huh? too many widgets\n");
}

}  // namespace
