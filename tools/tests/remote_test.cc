#include "tools/unit/remote.h"

#include <gtest/gtest.h>

#include "link/link.h"

TEST(RemoteButtons, PressesFlipTheToggleAndHoldsKeepIt) {
  RemoteButtons remote;
  const bool first = remote.Press(0x3410, 1000).byte1 & kToggleBit;
  const bool second = remote.Press(0x3410, 1100).byte1 & kToggleBit;
  EXPECT_NE(first, second);

  IrFrame f;
  // Auto-repeat every 30 ms: one frame per repeat period, same toggle.
  int sent = 0;
  for (uint32_t t = 1130; t <= 1700; t += 30)
    if (remote.KeyEvent(0x3410, t, f)) {
      ++sent;
      EXPECT_EQ((f.byte1 & kToggleBit) != 0, second);
    }
  EXPECT_GE(sent, 4);
  EXPECT_LE(sent, 6);
}

TEST(RemoteButtons, GapOrOtherKeyIsANewPress) {
  RemoteButtons remote;
  IrFrame f;
  ASSERT_TRUE(remote.KeyEvent(0x3535, 0, f));
  const uint8_t t0 = f.byte1 & kToggleBit;
  ASSERT_TRUE(remote.KeyEvent(0x3535, kHoldGapMs + 1, f));
  const uint8_t t1 = f.byte1 & kToggleBit;
  EXPECT_NE(t0, t1);
  // Within the hold gap but another key: sent at once, toggle flipped.
  ASSERT_TRUE(remote.KeyEvent(0x3530, kHoldGapMs + 20, f));
  EXPECT_NE(f.byte1 & kToggleBit, t1);
  EXPECT_EQ(f.byte0, 0x30);
  // The same key 20 ms later is a hold not yet due.
  EXPECT_FALSE(remote.KeyEvent(0x3530, kHoldGapMs + 40, f));
}

TEST(ParseKeyName, SlotNamesAliasesAndDigits) {
  for (int slot = 0; slot < kKeySlots; ++slot) EXPECT_EQ(ParseKeyName(KeySlotName(slot)), slot);
  EXPECT_EQ(ParseKeyName("volume UP"), KeyVolumeUp);
  EXPECT_EQ(ParseKeyName("Next_Track"), KeyNextTrack);
  EXPECT_EQ(ParseKeyName("vol-"), KeyVolumeDown);
  EXPECT_EQ(ParseKeyName("prev"), KeyPreviousTrack);
  EXPECT_EQ(ParseKeyName("7"), KeyDigit0 + 7);
  EXPECT_EQ(ParseKeyName("q"), KeyQuit);
  EXPECT_EQ(ParseKeyName("louder"), -1);
  EXPECT_EQ(ParseKeyName(""), -1);
  EXPECT_EQ(ParseKeyName("77"), -1);
}

TEST(TerminalKeys, CharactersArrowsAndControls) {
  TerminalKeys keys;
  std::vector<TermEvent> got;
  auto sink = [&](const TermEvent& e) { got.push_back(e); };
  const std::string input = "q \x1b[A\x1bOD\x1b[3~3\r\x03\x0cz";
  keys.Feed(reinterpret_cast<const uint8_t*>(input.data()), input.size(), sink);
  ASSERT_EQ(got.size(), 8u);
  EXPECT_EQ(got[0].slot, KeyQuit);
  EXPECT_EQ(got[1].slot, KeyPause);
  EXPECT_EQ(got[2].slot, KeyVolumeUp);
  EXPECT_EQ(got[3].slot, KeyPreviousTrack);
  EXPECT_EQ(got[4].slot, KeyDigit0 + 3);  // the Delete key's sequence is skipped
  EXPECT_EQ(got[5].kind, TermEvent::kEnter);
  EXPECT_EQ(got[6].kind, TermEvent::kLeave);
  EXPECT_EQ(got[7].kind, TermEvent::kRedraw);
}

TEST(TerminalKeys, SequenceSplitAcrossReadsAndLoneEscape) {
  TerminalKeys keys;
  std::vector<TermEvent> got;
  auto sink = [&](const TermEvent& e) { got.push_back(e); };
  const uint8_t a[] = {0x1b}, b[] = {'['}, c[] = {'C'}, d[] = {0x1b, 'm'};
  keys.Feed(a, 1, sink);
  keys.Feed(b, 1, sink);
  EXPECT_TRUE(got.empty());
  keys.Feed(c, 1, sink);
  keys.Feed(d, 2, sink);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].slot, KeyNextTrack);
  EXPECT_EQ(got[1].slot, KeyMute);
}

TEST(LegendItems, OnlyKeysTheRemoteHas) {
  const auto has = [](const std::vector<std::string>& items, const std::string& text) {
    for (const auto& item : items)
      if (item.find(text) != std::string::npos) return true;
    return false;
  };
  const auto defaults = LegendItems(DefaultKeys());
  EXPECT_TRUE(has(defaults, "Quit"));
  EXPECT_TRUE(has(defaults, "Digits"));
  EXPECT_FALSE(has(defaults, "Jump forward"));
  KeyMap keys{};
  keys[KeyJumpForward] = 0x3040;
  const auto learned = LegendItems(keys);
  EXPECT_TRUE(has(learned, "Jump forward"));
  EXPECT_FALSE(has(learned, "Quit"));
  EXPECT_FALSE(has(learned, "Digits"));
}
