#include <gtest/gtest.h>

#include "link/link.h"
#include "link/tick.h"
#include "link/ticker.h"

TEST(RemoteCode, ToggleBitDoesNotReachTheCode) {
  EXPECT_EQ(MakeRemoteCode(0x0C, 0x35), 0x350C);
  EXPECT_EQ(MakeRemoteCode(0x0C, 0x3D), 0x350C);
  EXPECT_EQ(MakeRemoteCode(0x1A, 0x24), 0x241A);
  EXPECT_EQ(MakeRemoteCode(0x1A, 0x34), 0x341A);
  EXPECT_EQ(MakeRemoteCode(0x00, 0x00), 0x0000);
}

TEST(RemoteCode, HighByteZeroWidensIntoTheHighHalf) {
  // byte 0 at 0x80 or above masks byte 1 completely
  EXPECT_EQ(MakeRemoteCode(0x85, 0x38), 0xF785);
  EXPECT_EQ(MakeRemoteCode(0x85, 0x30), 0xF785);
  EXPECT_EQ(MakeRemoteCode(0x80, 0x00), 0xF780);
  EXPECT_EQ(MakeRemoteCode(0xFF, 0xFF), 0xF7FF);
}

TEST(SplitIrFrame, CommandAndSystem) {
  IrKey k = SplitIrFrame(0x85, 0x38);
  EXPECT_EQ(k.command, 5);
  EXPECT_EQ(k.system, 2);
  k = SplitIrFrame(0x1A, 0x24);
  EXPECT_EQ(k.command, 26);
  EXPECT_EQ(k.system, 16);
  k = SplitIrFrame(0x1A, 0x34);
  EXPECT_EQ(k.command, 26);
  EXPECT_EQ(k.system, 16);
  k = SplitIrFrame(0x0C, 0x3D);  // 0x350C with toggle: system 20
  EXPECT_EQ(k.command, 12);
  EXPECT_EQ(k.system, 20);
  k = SplitIrFrame(0xFF, 0xFF);
  EXPECT_EQ(k.command, 63);
  EXPECT_EQ(k.system, 31);
}

// What a remote sends for a code or a key reads back as that code or key,
// whichever way the toggle bit stands.
TEST(IrFrameFor, CodesAndKeysComeBack) {
  for (const uint16_t code : {0x350C, 0x241A, 0x3000, 0x3410, 0xF785}) {
    for (bool toggle : {false, true}) {
      const IrFrame f = IrFrameForCode(code, toggle);
      EXPECT_EQ(MakeRemoteCode(f.byte0, f.byte1), code);
      EXPECT_EQ((f.byte1 & kToggleBit) != 0, toggle);
    }
  }
  // A widened code lost byte 1: the frame carries the start bits alone.
  EXPECT_EQ(IrFrameForCode(0xF785, false).byte1, kStartBits);
  for (const IrKey key : {IrKey{12, 20}, IrKey{5, 2}, IrKey{63, 31}, IrKey{0, 0}}) {
    const IrFrame f = IrFrameForKey(key, true);
    EXPECT_EQ(SplitIrFrame(f.byte0, f.byte1).command, key.command);
    EXPECT_EQ(SplitIrFrame(f.byte0, f.byte1).system, key.system);
    EXPECT_EQ(f.byte1 & (kStartBits | kToggleBit), kStartBits | kToggleBit);
  }
}

TEST(DisplayFrame, RightJustifiedAndAsIs) {
  const std::string j = BuildDisplayFrame("abcd", "0123456789AB", true);
  ASSERT_EQ(j.size(), 34u);
  EXPECT_EQ(j, "\x80" + std::string(12, ' ') + "abcd\xa8" + "    0123456789AB");
  const std::string a = BuildDisplayFrame("abcd", "0123456789AB", false);
  EXPECT_EQ(a, "\x80" "abcd\xa8" "0123456789AB");
  EXPECT_EQ(a.size(), 18u);
}

TEST(DisplayFrame, LongTextsGoOutWholeAndNoLineHoldsAMarkerOrAControl) {
  const std::string l1 = "0123456789abcdef";
  const std::string l2 = "0123456789abcdefg";
  EXPECT_EQ(BuildDisplayFrame(l1, l2, true).size(), 35u);
  EXPECT_EQ(BuildDisplayFrame(l1, l2, false).size(), 35u);
  // An 8-bit title (Windows-1252 "€", Latin-1 "¨" and "é") with a TAB and an ESC.
  const std::string title = std::string("ab\xa8\x80\xe9\x81\xff\t\x1b\x7f") + std::string(6, 'x');
  const std::string shown = std::string("ab E\xe9\x81\xff   ") + std::string(6, 'x');
  for (bool rightJustify : {false, true}) {
    const std::string f = BuildDisplayFrame(title, title.substr(0, 12), rightJustify);
    EXPECT_EQ(f.substr(1, 16), shown);
    EXPECT_EQ(f.substr(17), "\xa8" + std::string(rightJustify ? 4 : 0, ' ') + shown.substr(0, 12));
  }
  EXPECT_EQ(BuildDisplayFrame("", "", true), "\x80" + std::string(16, ' ') + "\xa8" +
                                                 std::string(16, ' '));
}

static std::vector<int> Offsets(TitleTicker& t, const std::string& title, int steps) {
  std::vector<int> seen;
  for (int i = 0; i < steps; ++i) {
    const std::string w = TitleTickerStep(t, title);
    EXPECT_EQ(w.size(), 16u);
    seen.push_back(static_cast<int>(title.find(w.substr(0, 3))));
  }
  return seen;
}

TEST(TitleTicker, BouncesWithTwoStepsAtEachEnd) {
  TitleTicker t;
  EXPECT_EQ(Offsets(t, "ABCDEFGHIJKLMNOPQ", 8), (std::vector<int>{0, 1, 1, 0, 0, 1, 1, 0}));
  TitleTicker u;
  EXPECT_EQ(Offsets(u, "ABCDEFGHIJKLMNOPQR", 12),
            (std::vector<int>{0, 1, 2, 2, 1, 0, 0, 1, 2, 2, 1, 0}));
}

TEST(TitleTicker, ShortTitlesArePaddedAndNeverMove) {
  TitleTicker t;
  EXPECT_EQ(TitleTickerStep(t, ""), std::string(16, ' '));
  EXPECT_EQ(TitleTickerStep(t, "Hello"), "Hello" + std::string(11, ' '));
  EXPECT_EQ(TitleTickerStep(t, "Hello"), "Hello" + std::string(11, ' '));
  const std::string sixteen = "0123456789abcdef";
  for (int i = 0; i < 4; ++i) EXPECT_EQ(TitleTickerStep(t, sixteen), sixteen);
  EXPECT_EQ(t.offset, 0);
}

TEST(TitleTicker, NewTitleRestartsSameTitleDoesNot) {
  TitleTicker t;
  const std::string a = "ABCDEFGHIJKLMNOPQRSTU";  // 21
  for (int i = 0; i < 4; ++i) TitleTickerStep(t, a);
  EXPECT_EQ(t.offset, 4);
  EXPECT_EQ(TitleTickerStep(t, a), a.substr(4, 16));  // same title: the cycle goes on
  const std::string b = "abcdefghijklmnopqrstuvwxyz";
  EXPECT_EQ(TitleTickerStep(t, b), b.substr(0, 16));
  EXPECT_EQ(TitleTickerStep(t, b), b.substr(1, 16));
}

TEST(TickerAdvance, HostFormMatchesBothEnds) {
  // 20 characters: 0,1,2,3,4,4,3,2,1,0,0,1
  int offset = 0, step = 1;
  std::vector<int> seen;
  for (int i = 0; i < 12; ++i) {
    seen.push_back(offset);
    TickerAdvance(offset, step, 20);
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 4, 3, 2, 1, 0, 0, 1}));
  offset = 0;
  step = 1;
  for (int i = 0; i < 5; ++i) {
    TickerAdvance(offset, step, 5);
    EXPECT_EQ(offset, 0);
  }
  EXPECT_EQ(TickerWindow("short", 0, false), "short");
  EXPECT_EQ(TickerWindow("short", 9, true), std::string(16, ' '));
}

TEST(Tick, ZeroIsLongPastAndIntervalsWrap) {
  EXPECT_TRUE(MoreThan(100, kNeverTick, 500));
  EXPECT_FALSE(MoreThan(600, 100, 500));
  EXPECT_TRUE(MoreThan(601, 100, 500));
  EXPECT_TRUE(MoreThan(0x100, 0xFFFFFE00u, 500));  // 512 ms across the wrap
  EXPECT_NE(TickStamp(0), kNeverTick);
  EXPECT_EQ(TicksUntilDue(100, kNeverTick, 500), 0u);
  EXPECT_EQ(TicksUntilDue(600, 100, 500), 1u);
  EXPECT_EQ(TicksUntilDue(601, 100, 500), 0u);
}

TEST(LineTime, TenBitTimesPerByteAt2400Baud) {
  EXPECT_EQ(LineTimeUs(0), 0u);
  EXPECT_EQ(LineTimeUs(1), 4167u);  // rounded up
  EXPECT_EQ(LineTimeUs(34), 141667u);
  EXPECT_EQ(LineTimeUs(240), 1000000u);
}

TEST(LinePacer, FreeOnlyOnceTheLastFrameHadItsLineTimeAndTheDrawGap) {
  LinePacer pacer;
  const uint64_t frameUs = 141667 + LinePacer::kDrawGapUs;
  EXPECT_TRUE(pacer.Free(5000000));
  pacer.Sent(5000000, 34);
  EXPECT_EQ(pacer.WaitUs(5000000), frameUs);
  EXPECT_FALSE(pacer.Free(5000000 + frameUs - 1));
  EXPECT_TRUE(pacer.Free(5000000 + frameUs));
  // A frame written early anyway queues behind the one still on the wire.
  pacer.Sent(5100000, 34);
  EXPECT_EQ(pacer.WaitUs(5100000), 2 * frameUs - 100000u);
}
