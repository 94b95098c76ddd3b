#include "tools/unit/script.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {
Script Parse(const std::string& text, const KeyMap& keys = DefaultKeys()) {
  std::istringstream in(text);
  return ParseScript(in, keys);
}
}  // namespace

TEST(ParseScript, PressesAndWaitsMakeATimeline) {
  const Script s = Parse("# start\nplay\nwait 1.5s\n\n  Volume up  # louder\nwait 250ms\nenter\nwait 100\ncode 0x1234\n");
  ASSERT_TRUE(s.error.empty()) << s.error;
  ASSERT_EQ(s.events.size(), 4u);
  EXPECT_EQ(s.events[0].code, 0x3535);
  EXPECT_EQ(s.events[0].atMs, 0u);
  EXPECT_EQ(s.events[1].slot, KeyVolumeUp);
  EXPECT_EQ(s.events[1].atMs, 1500u);
  EXPECT_EQ(s.events[2].kind, ScriptEvent::kEnter);
  EXPECT_EQ(s.events[2].atMs, 1750u);
  EXPECT_EQ(s.events[3].code, 0x1234);
  EXPECT_EQ(s.events[3].slot, KeyNone);
  EXPECT_EQ(s.endMs, 1850u);
}

TEST(ParseScript, HoldRepeatsAtTheRemotesPace) {
  const Script s = Parse("hold vol+ 500\nmute\n");
  ASSERT_TRUE(s.error.empty()) << s.error;
  // Press at 0, repeats at 114, 228, 342, 456, then the next step at 500.
  ASSERT_EQ(s.events.size(), 6u);
  EXPECT_EQ(s.events[0].kind, ScriptEvent::kPress);
  for (size_t i = 1; i < 5; ++i) {
    EXPECT_EQ(s.events[i].kind, ScriptEvent::kRepeat);
    EXPECT_EQ(s.events[i].atMs, i * kRc5RepeatMs);
  }
  EXPECT_EQ(s.events[5].atMs, 500u);

  RemoteButtons remote;
  const uint8_t toggle = FrameForEvent(s.events[0], remote).byte1 & kToggleBit;
  for (size_t i = 1; i < 5; ++i) EXPECT_EQ(FrameForEvent(s.events[i], remote).byte1 & kToggleBit, toggle);
  EXPECT_NE(FrameForEvent(s.events[5], remote).byte1 & kToggleBit, toggle);
}

TEST(ParseScript, MistakesNameTheirLine) {
  EXPECT_EQ(Parse("play\nlouder\n").error, "line 2: unknown key 'louder'");
  EXPECT_NE(Parse("wait\n").error.find("line 1: wait"), std::string::npos);
  EXPECT_NE(Parse("wait 5 minutes\n").error, "");
  EXPECT_NE(Parse("wait -3\n").error, "");
  EXPECT_NE(Parse("wait 1e30\n").error, "");
  EXPECT_NE(Parse("hold play\n").error, "");
  EXPECT_NE(Parse("code 0x12345\n").error, "");
  EXPECT_NE(Parse("code zz\n").error, "");
  EXPECT_NE(Parse("enter now\n").error, "");
  // A failed script has no events to run.
  EXPECT_TRUE(Parse("play\nbogus\n").events.empty());
}

TEST(ParseScript, KeysTheRemoteLacksAreRefused) {
  EXPECT_EQ(Parse("jump forward\n").error, "line 1: this remote has no key for Jump forward");
  KeyMap keys{};
  keys[KeyJumpForward] = 0x3001;
  const Script s = Parse("jump+\n", keys);
  ASSERT_TRUE(s.error.empty());
  EXPECT_EQ(s.events[0].code, 0x3001);
}

TEST(ParseScript, TotalLengthCannotWrap) {
  std::string text;
  for (int i = 0; i < 1200; ++i) text += "wait 3600s\n";
  EXPECT_EQ(Parse(text).error.find("too long") != std::string::npos, true);
}
