// The key side: names, repeat counts, the broadcast line, the reply packets
// and the bounded command lines.
#include <gtest/gtest.h>

#include "bridge/line_reader.h"
#include "bridge/lirc.h"

namespace {

uint8_t Low(uint16_t code) { return static_cast<uint8_t>(code & 0xFF); }
uint8_t High(uint16_t code, bool toggle) {
  return static_cast<uint8_t>((code >> 8) | (toggle ? 0x08 : 0));
}

TEST(LircKeys, SlotsTakeLircNamesAndOtherCodesAreNamedByTheirCode) {
  const KeyMap keys = DefaultKeys();
  EXPECT_EQ(KeyNameFor(keys, 0x350C), "KEY_EXIT");
  EXPECT_EQ(KeyNameFor(keys, 0x3535), "KEY_PLAY");
  EXPECT_EQ(KeyNameFor(keys, 0x3411), "KEY_VOLUMEDOWN");
  EXPECT_EQ(KeyNameFor(keys, 0x3000), "KEY_0");
  EXPECT_EQ(KeyNameFor(keys, 0x3009), "KEY_9");
  EXPECT_EQ(KeyNameFor(keys, 0x2727), "KEY_UNKNOWN_2727");
  // Code 0 is no key, although the slots without one hold it.
  EXPECT_EQ(KeyNameFor(keys, 0), "KEY_UNKNOWN_0000");
  EXPECT_STREQ(LircKeyName(KeyJumpForward), "KEY_FASTFORWARD");
}

TEST(LircKeys, HeldKeyCountsUpAndAFlippedToggleIsANewPress) {
  RepeatCounter counter;
  uint64_t now = 1000;
  const auto frame = [&](uint16_t code, bool toggle, uint64_t after) {
    now += after;
    return counter.Next(Low(code), High(code, toggle), now);
  };
  EXPECT_EQ(frame(0x3535, false, 0), 0u);
  EXPECT_EQ(frame(0x3535, false, 114), 1u);
  EXPECT_EQ(frame(0x3535, false, 114), 2u);
  EXPECT_EQ(frame(0x3535, true, 10), 0u);  // released and pressed again quickly
  EXPECT_EQ(frame(0x3535, true, 114), 1u);
  // The fallback: the same toggle long after is a remote that never flips it.
  EXPECT_EQ(frame(0x3535, true, kHeldGapMs + 1), 0u);
  EXPECT_EQ(frame(0x3410, true, 10), 0u);  // another key
  EXPECT_EQ(frame(0x3535, true, 10), 0u);
}

TEST(LircKeys, BroadcastLineHasCodeRepeatNameAndRemote) {
  EXPECT_EQ(KeyLine(0x3535, 0, "KEY_PLAY"), "0000000000003535 00 KEY_PLAY norvelo\n");
  EXPECT_EQ(KeyLine(0xF785, 0x1A, "KEY_UNKNOWN_F785"), "000000000000f785 1a KEY_UNKNOWN_F785 norvelo\n");
}

TEST(LircKeys, CommandsAreAnsweredInReplyPackets) {
  KeyMap keys{};
  keys[KeyPlay] = 0x3535;
  keys[KeyDigit0 + 1] = 0x3001;
  EXPECT_EQ(LircReply("VERSION", keys, "1.2.3"), "BEGIN\nVERSION\nSUCCESS\nDATA\n1\n1.2.3\nEND\n");
  EXPECT_EQ(LircReply("list", keys, "v"), "BEGIN\nlist\nSUCCESS\nDATA\n1\nnorvelo\nEND\n");
  EXPECT_EQ(LircReply(" LIST norvelo ", keys, "v"),
            "BEGIN\n LIST norvelo \nSUCCESS\nDATA\n2\n0000000000003535 KEY_PLAY\n"
            "0000000000003001 KEY_1\nEND\n");
  EXPECT_EQ(LircReply("LIST norvelo KEY_1", keys, "v"),
            "BEGIN\nLIST norvelo KEY_1\nSUCCESS\nDATA\n1\n0000000000003001 KEY_1\nEND\n");
  EXPECT_EQ(LircReply("LIST tv", keys, "v"),
            "BEGIN\nLIST tv\nERROR\nDATA\n1\nunknown remote: \"tv\"\nEND\n");
  EXPECT_EQ(LircReply("SEND_ONCE norvelo KEY_PLAY", keys, "v"),
            "BEGIN\nSEND_ONCE norvelo KEY_PLAY\nERROR\nDATA\n1\nunknown command: \"SEND_ONCE\"\nEND\n");
  EXPECT_EQ(LircReply("  ", keys, "v"), "");
}

TEST(LineReader, LinesAreSplitAcrossReadsAndOverlongOnesDropped) {
  LineReader reader(8);
  LineReader::Result r = reader.Feed("VERS", 4);
  EXPECT_TRUE(r.lines.empty());
  r = reader.Feed("ION\r\nLI", 7);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], "VERSION");
  const std::string flood = "ST" + std::string(100, 'x') + "\nLIST\n";
  r = reader.Feed(flood.data(), flood.size());
  EXPECT_EQ(r.overlong, 1u);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], "LIST");
}

}  // namespace
