#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "plugin/ports.h"
#include "plugin/tests/fakes.h"

namespace {

using Sent = std::vector<std::string>;

TEST(CommandQueue, KeepsOrderAcrossTheWrap) {
  CommandQueue q;
  QueueEntry e;
  for (uint32_t i = 0; i < 100; ++i) {
    ASSERT_TRUE(QueuePush(q, QueueEntry{static_cast<uint8_t>(i % 64), 16, i}));
    ASSERT_TRUE(QueueFront(q, e));
    EXPECT_EQ(e.tick, i);
    QueuePop(q);
    EXPECT_LT(q.writeIndex.load(), 32u);
    EXPECT_FALSE(QueueFront(q, e));
  }
}

TEST(CommandQueue, FullRingRefusesTheNewKeyAndKeepsTheOld) {
  CommandQueue q;
  int accepted = 0;
  for (uint32_t i = 0; i < 40; ++i) accepted += QueuePush(q, QueueEntry{1, 16, i});
  EXPECT_EQ(accepted, 31);
  QueueEntry e;
  for (uint32_t i = 0; i < 31; ++i) {
    ASSERT_TRUE(QueueFront(q, e));
    EXPECT_EQ(e.tick, i);
    QueuePop(q);
  }
  EXPECT_FALSE(QueueFront(q, e));
}

TEST(CommandQueue, ReaderSeesEveryKeyOfAnotherThreadInOrder) {
  CommandQueue q;
  constexpr uint32_t kKeys = 200000;
  std::thread writer([&] {
    for (uint32_t i = 1; i <= kKeys; ++i)
      while (!QueuePush(q, QueueEntry{static_cast<uint8_t>(i & 63), 20, i})) std::this_thread::yield();
  });
  uint32_t expected = 1;
  QueueEntry e;
  while (expected <= kKeys) {
    if (!QueueFront(q, e)) { std::this_thread::yield(); continue; }
    ASSERT_EQ(e.tick, expected);
    ASSERT_EQ(e.command, expected & 63);
    QueuePop(q);
    ++expected;
  }
  writer.join();
}

IrKey Key(uint8_t command, uint8_t system) { return IrKey{command, system}; }

TEST(ReceiverFilter, OnlySystems16And20AndTheirOwnWindow) {
  ReceiverState s;
  EXPECT_TRUE(FilterKey(s, Key(53, 20), 1000));   // first frame after start
  EXPECT_FALSE(FilterKey(s, Key(53, 0), 1300));   // other systems leave the window
  EXPECT_FALSE(FilterKey(s, Key(53, 5), 1300));
  EXPECT_TRUE(FilterKey(s, Key(32, 16), 1250));
  EXPECT_FALSE(FilterKey(s, Key(33, 16), 1400));  // a different key 150 ms later
  EXPECT_TRUE(FilterKey(s, Key(33, 16), 1600));
}

TEST(ReceiverFilter, HeldKeyActsOnceButHeldVolumeKeyRepeats) {
  ReceiverState s;
  int play = 0, volume = 0;
  for (uint32_t t = 5000; t < 8000; t += 120) play += FilterKey(s, Key(53, 20), t);
  EXPECT_EQ(play, 1);
  for (uint32_t t = 9000; t < 9000 + 120 * 10; t += 120) volume += FilterKey(s, Key(16, 16), t);
  EXPECT_EQ(volume, 5);  // every second frame: 240 ms apart
}

TEST(ReceiverFilter, SurvivesTheCounterWrap) {
  ReceiverState s;
  EXPECT_TRUE(FilterKey(s, Key(1, 20), 0xFFFFFF00u));
  EXPECT_TRUE(FilterKey(s, Key(2, 20), 0x00000010u));  // 272 ms later
  ReceiverState t;
  EXPECT_TRUE(FilterKey(t, Key(1, 20), 0xFFFFFFF0u));
  EXPECT_FALSE(FilterKey(t, Key(2, 20), 0x00000010u));  // 32 ms later
}

struct ReceiverFixture : ::testing::Test {
  ReceiverState state;
  CommandQueue queue;
  FakeReader reader;
  FakeClock clock;
  FakeAlerts alerts;
  void SetUp() override { alerts.clock = &clock; }
  void Step() { ReceiverStep(state, queue, reader, clock, alerts); }
};

TEST_F(ReceiverFixture, QueuesDecodedKeysWithTheirTick) {
  reader.Frame(0x0C, 0x3D);  // system 20, command 12, toggle set
  Step();
  QueueEntry e;
  ASSERT_TRUE(QueueFront(queue, e));
  EXPECT_EQ(e.command, 12);
  EXPECT_EQ(e.system, 20);
  EXPECT_EQ(e.tick, clock.now);
  EXPECT_EQ(alerts.beeps, 0);
}

TEST_F(ReceiverFixture, MissingPortPausesAndBeepsAtMostOnceASecond) {
  for (int i = 0; i < 40; ++i) Step();  // nothing queued: every wait fails at once
  EXPECT_EQ(alerts.paused, 40 * kRetryPauseMs);
  EXPECT_EQ(alerts.beeps, 10);  // 10 s of retries
  reader.items.push_back({IoStatus::kFailed, 0, 0});
  clock.now += 2000;
  Step();
  EXPECT_EQ(alerts.beeps, 11);
}

TEST_F(ReceiverFixture, PortWithoutLineEventsIsPolledQuietly) {
  for (int i = 0; i < 100; ++i) reader.items.push_back({IoStatus::kIdle, 0, 0});
  reader.Frame(0x35, 0x05);
  for (int i = 0; i < 101; ++i) Step();
  EXPECT_EQ(alerts.beeps, 0);
  EXPECT_EQ(alerts.paused, 100 * kPollPauseMs);
  QueueEntry e;
  ASSERT_TRUE(QueueFront(queue, e));
  EXPECT_EQ(e.command, 53);
}

TEST_F(ReceiverFixture, StopRequestIsNoFailure) {
  reader.items.push_back({IoStatus::kStopped, 0, 0});
  Step();
  EXPECT_EQ(alerts.beeps, 0);
  EXPECT_EQ(alerts.paused, 0u);  // the thread is on its way out: no retry pause
}

TEST_F(ReceiverFixture, FullQueueDropsAndCountsTheNewKey) {
  for (int i = 0; i < 35; ++i) {
    reader.Frame(0x35, 0x05);  // system 20, command 53
    Step();
    clock.now += 300;
  }
  EXPECT_EQ(state.droppedFull, 4u);
  EXPECT_LT(queue.writeIndex.load(), 32u);
}

// The update thread against a fake host.
struct UpdateFixture : ::testing::Test {
  FakeHost host;
  FakeClock clock;
  FakeWave wave;
  FakeWriter serial;
  FakeAlerts alerts;
  UpdateState state;
  TickerState ticker;
  CommandQueue queue;
  UpdateContext ctx{host, clock, wave, serial, alerts};

  void Key(uint8_t command) { HandleKey(state, ctx, QueueEntry{command, 20, clock.now}); }
  void Pass() { UpdatePass(state, ticker, queue, ctx); }
  void Wait(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 20) { clock.now += 20; Pass(); }
  }
};

TEST_F(UpdateFixture, TransportKeysSendTheirCommandsAndTexts) {
  struct Case { uint8_t key; const char* sent; const char* text; bool dirty; };
  const Case cases[] = {
      {32, "cmd 40048", "Prog+", true},   {33, "cmd 40044", "Prog-", true},
      {48, "cmd 40046", "Un/pause", false}, {53, "cmd 40045", "Play", true},
      {54, "cmd 40047", "Stop", true},
  };
  for (const Case& c : cases) {
    state.dirty = false;
    Key(c.key);
    EXPECT_EQ(host.Take(), Sent{c.sent}) << int(c.key);
    EXPECT_STREQ(state.line2, c.text);
    EXPECT_EQ(state.dirty, c.dirty) << int(c.key);
  }
  state.dirty = false;
  std::snprintf(state.line2, sizeof state.line2, "keep");
  for (uint8_t k : {10, 11, 13, 15, 40, 62}) Key(k);
  EXPECT_TRUE(host.Take().empty());
  EXPECT_STREQ(state.line2, "keep");
  EXPECT_FALSE(state.dirty);
}

TEST_F(UpdateFixture, JumpsOfTenAndStart) {
  host.listLength = 35;
  host.listPos = 24;  // entry 25
  Key(26);
  EXPECT_EQ(host.Take(), (Sent{"req 124", "req 121 14", "cmd 40045"}));
  EXPECT_STREQ(state.line2, "Down 10");
  Key(30);
  EXPECT_EQ(host.Take(), (Sent{"req 124", "req 121 34", "cmd 40045"}));
  EXPECT_STREQ(state.line2, "Up 10");
  host.listLength = 34;
  Key(30);
  EXPECT_EQ(host.Take(), Sent{"req 124"});
  EXPECT_STREQ(state.line2, "Errore seek");
  host.listPos = 10;  // entry 11: down to the first
  Key(26);
  EXPECT_EQ(host.Take(), (Sent{"req 124", "req 121 0", "cmd 40045"}));
  host.listPos = 4;  // entry 5: no entry -5, nothing below index 0 is sent
  Key(26);
  EXPECT_EQ(host.Take(), Sent{"req 124"});
  EXPECT_STREQ(state.line2, "Errore seek");
  Key(63);
  EXPECT_EQ(host.Take(), (Sent{"req 124", "req 121 0", "cmd 40045"}));
  EXPECT_STREQ(state.line2, "Start PL");
  host.listLength = 0;
  Key(63);
  EXPECT_EQ(host.Take(), Sent{"req 124"});
  EXPECT_STREQ(state.line2, "Errore seek");
  host.listLength = 2147483647;
  host.listPos = 2147483646;  // the last possible entry: +10 must not overflow
  Key(30);
  EXPECT_EQ(host.Take(), Sent{"req 124"});
  EXPECT_STREQ(state.line2, "Errore seek");
}

TEST_F(UpdateFixture, VolumeKeysClampAndDrawTheBar) {
  wave.SetLevel(257);  // full device volume reads above the host's scale
  Key(16);
  EXPECT_EQ(host.Take(), Sent{"req 122 255"});
  EXPECT_STREQ(state.line2, ">>>>>>>>>>>>>>>>");
  wave.SetLevel(3);
  Key(17);
  EXPECT_EQ(host.Take(), Sent{"req 122 0"});
  EXPECT_STREQ(state.line2, "                ");
  wave.SetLevel(249);
  Key(16);
  EXPECT_EQ(host.Take(), Sent{"req 122 254"});
  EXPECT_STREQ(state.line2, ">>>>>>>>>>>>>>> ");
}

TEST_F(UpdateFixture, MuteSavesAndVolumeKeysRestoreFirst) {
  wave.SetLevel(200);
  Key(12);
  EXPECT_EQ(host.Take(), Sent{"req 122 1"});
  EXPECT_STREQ(state.line2, "Mute");
  EXPECT_TRUE(state.muted);
  wave.SetLevel(1);
  Key(16);  // first back to 200, then up from the device's reading
  EXPECT_EQ(host.Take(), (Sent{"req 122 200", "req 122 6"}));
  EXPECT_FALSE(state.muted);

  Key(12);
  host.Take();
  state.dirty = false;
  Key(12);  // unmute: volume back, text and frame request untouched
  EXPECT_EQ(host.Take(), Sent{"req 122 1"});
  EXPECT_STREQ(state.line2, "Mute");
  EXPECT_FALSE(state.dirty);

  Key(12);
  host.Take();
  Key(54);
  EXPECT_EQ(host.Take(), (Sent{"req 122 1", "cmd 40047"}));
}

TEST_F(UpdateFixture, UnreadableDeviceFallsBackToTheLastVolumeSent) {
  wave.SetLevel(100);
  Key(16);
  EXPECT_EQ(host.Take(), Sent{"req 122 105"});
  wave.ok = false;
  Key(16);
  EXPECT_EQ(host.Take(), Sent{"req 122 110"});
  Key(12);
  Key(12);  // unmute does not go to silence
  EXPECT_EQ(host.Take(), (Sent{"req 122 1", "req 122 110"}));
}

TEST_F(UpdateFixture, TypedNumberCommitsByTimeOut) {
  host.listLength = 20;
  Key(1);
  EXPECT_STREQ(state.line2, "Brano 1");
  clock.now += 400;
  Key(2);
  EXPECT_STREQ(state.line2, "Brano 12");
  clock.now += 1000;
  DigitTimeout(state, ctx);
  EXPECT_TRUE(host.Take().empty());
  clock.now += 1;
  DigitTimeout(state, ctx);
  EXPECT_EQ(host.Take(), (Sent{"req 124", "req 121 11", "cmd 40045"}));
  EXPECT_STREQ(state.line2, "Brano 12");
  EXPECT_EQ(state.trackNumber, 0);
  EXPECT_EQ(state.lastStatusTick, clock.now);

  host.listLength = 11;
  Key(1);
  Key(2);
  clock.now += 1001;
  DigitTimeout(state, ctx);
  EXPECT_EQ(host.Take(), Sent{"req 124"});
  EXPECT_STREQ(state.line2, "Errore seek");
}

TEST_F(UpdateFixture, LeadingZerosAreIgnoredAndAnyKeyCommits) {
  host.listLength = 3;
  state.dirty = false;
  Key(0);
  Key(0);
  EXPECT_FALSE(state.dirty);
  EXPECT_EQ(state.trackNumber, 0);
  wave.SetLevel(80);
  Key(12);  // mute on, then a number committed by key 53 undoes it
  host.Take();
  Key(3);
  EXPECT_STREQ(state.line2, "Brano 3");
  Key(53);
  EXPECT_EQ(host.Take(), (Sent{"req 124", "req 121 2", "cmd 40045", "req 122 80"}));
  EXPECT_FALSE(state.muted);
  EXPECT_STREQ(state.line2, "Brano 3");
  Key(5);
  Key(0);
  Key(48);  // 50 of 3: fails, and pause is not sent
  EXPECT_EQ(host.Take(), Sent{"req 124"});
  EXPECT_STREQ(state.line2, "Errore seek");
}

TEST_F(UpdateFixture, LongTypedNumberIsBoundedAndFails) {
  host.listLength = 2147483647;
  for (int i = 0; i < 15; ++i) Key(9);
  EXPECT_EQ(state.trackNumber, kMaxTypedNumber);
  EXPECT_STREQ(state.line2, "Brano 999999999");
  Key(53);
  EXPECT_EQ(host.Take(), (Sent{"req 124", "req 121 999999998", "cmd 40045"}));
}

TEST_F(UpdateFixture, StatusLineFormsAndPadding) {
  host.listPos = 3;
  host.playState = 3;
  host.outputMs = 83000;
  StatusLine(state, ctx);
  EXPECT_STREQ(state.line2, "Trk 4 [1:23]    ");
  clock.now += 1001;
  host.playState = 1;
  host.outputMs = (62 * 60 + 3) * 1000 + 999;
  StatusLine(state, ctx);
  EXPECT_STREQ(state.line2, "Trk 4 (62:03)   ");
  clock.now += 1001;
  host.playState = 0;
  StatusLine(state, ctx);
  EXPECT_STREQ(state.line2, "Trk 4 (stop)    ");
  clock.now += 1001;
  host.playState = 1;
  host.listPos = 999;
  host.outputMs = 100 * 60000;
  StatusLine(state, ctx);
  EXPECT_STREQ(state.line2, "Trk 1000 (100:00)");  // not cut
  const std::string frame = BuildDisplayFrame("", state.line2, true);
  EXPECT_EQ(frame.size(), 35u);
}

TEST_F(UpdateFixture, FeedbackHoldsLine2ForMoreThanASecond) {
  host.titles[0] = "Song";
  Pass();
  EXPECT_STREQ(state.line2, "Trk 1 (0:00)    ");
  Key(32);
  const uint32_t keyTime = clock.now;
  while (std::strcmp(state.line2, "Prog+") == 0) { clock.now += 20; Pass(); }
  EXPECT_GT(clock.now - keyTime, 1000u);
  EXPECT_LE(clock.now - keyTime, 1040u);
}

TEST_F(UpdateFixture, TickerBouncesAndShortTitlesStayShort) {
  host.titles[0] = "ABCDEFGHIJKLMNOPQRST";  // 20 characters
  std::vector<int> starts;
  for (int i = 0; i < 12; ++i) {
    UpdateTicker(state, ticker, ctx);
    starts.push_back(state.line1[0] - 'A');
    clock.now += 501;
  }
  EXPECT_EQ(starts, (std::vector<int>{0, 1, 2, 3, 4, 4, 3, 2, 1, 0, 0, 1}));
  host.titles[0] = "Hello";
  UpdateTicker(state, ticker, ctx);  // a new title shows at once
  EXPECT_STREQ(state.line1, "Hello");
  clock.now += 501;
  UpdateTicker(state, ticker, ctx);
  EXPECT_STREQ(state.line1, "Hello");
  EXPECT_EQ(ticker.tickerOffset, 0);
  EXPECT_EQ(FrameLine(BuildDisplayFrame(state.line1, "", true), 1), "           Hello");
}

TEST_F(UpdateFixture, TickerStepsOnlyOnItsOwnTimer) {
  host.titles[0] = "ABCDEFGHIJKLMNOPQRST";
  UpdateTicker(state, ticker, ctx);
  state.dirty = false;
  clock.now += 500;
  UpdateTicker(state, ticker, ctx);
  EXPECT_FALSE(state.dirty);
  EXPECT_EQ(state.line1[0], 'A');
  clock.now += 1;
  UpdateTicker(state, ticker, ctx);
  EXPECT_TRUE(state.dirty);
  EXPECT_EQ(state.line1[0], 'B');
}

TEST_F(UpdateFixture, NullAndOversizedTitles) {
  host.nullTitle = true;
  UpdateTicker(state, ticker, ctx);
  EXPECT_STREQ(state.line1, "");
  host.nullTitle = false;
  host.titles[0] = std::string(1500, 'x') + "END";
  UpdateTicker(state, ticker, ctx);
  EXPECT_EQ(std::strlen(ticker.lastTitle), 1023u);
  for (int i = 0; i < 3000; ++i) { clock.now += 501; UpdateTicker(state, ticker, ctx); }
  EXPECT_LE(ticker.tickerOffset, 1023 - 16);
  EXPECT_EQ(std::strlen(state.line1), 16u);
}

TEST_F(UpdateFixture, FramesKeepComingWithoutKeysAndFailuresBeepRarely) {
  host.titles[0] = "Title";
  Wait(10000);
  // ticker steps every 520 ms give 19 frames, status lines up to 10 more
  EXPECT_GE(serial.frames.size(), 19u);
  EXPECT_LE(serial.frames.size(), 40u);
  for (const std::string& f : serial.frames) {
    EXPECT_EQ(FrameLine(f, 1), "           Title");
    EXPECT_EQ(f.size(), 34u);
  }
  serial.result = IoStatus::kFailedAtOnce;
  const size_t before = serial.frames.size();
  Wait(10000);
  EXPECT_GT(serial.frames.size() - before, 19u);
  EXPECT_GE(alerts.beeps, 9);
  EXPECT_LE(alerts.beeps, 11);
}

// The host's titles are in the Windows code page, where 0x80 is the euro sign.
TEST_F(UpdateFixture, HostTitleBytesNeverMarkALine) {
  host.titles[0] = "Caf\xE9 \xA8 \x80\tname";
  Pass();
  ASSERT_EQ(serial.frames.size(), 1u);
  const std::string& f = serial.frames[0];
  EXPECT_EQ(f.size(), 34u);
  EXPECT_EQ(f.substr(1, 16), "   Caf\xE9   E name");
  EXPECT_EQ(f.find_last_of("\x80\xA8"), 17u);
}

TEST_F(UpdateFixture, WriteCutShortByAStopRequestDoesNotBeep) {
  host.titles[0] = "T";
  serial.result = IoStatus::kStopped;
  Pass();
  EXPECT_EQ(serial.frames.size(), 1u);
  EXPECT_EQ(alerts.beeps, 0);
}

TEST_F(UpdateFixture, OnePassHandlesOneKeyAndWritesOneFrame) {
  host.titles[0] = "T";
  Pass();
  serial.frames.clear();
  QueuePush(queue, QueueEntry{53, 20, clock.now});
  QueuePush(queue, QueueEntry{54, 20, clock.now});
  clock.now += 20;
  Pass();
  EXPECT_EQ(host.Take(), Sent{"cmd 40045"});
  ASSERT_EQ(serial.frames.size(), 1u);
  EXPECT_EQ(FrameLine(serial.frames[0], 2), "            Play");
  clock.now += 20;
  Pass();
  EXPECT_EQ(host.Take(), Sent{"cmd 40047"});
}

using Names = std::vector<std::string>;

TEST(PortChoices, MachinePortsInNumberOrderEachOnceAndTheStoredOneKept) {
  EXPECT_EQ(PortChoices({"COM12", "com3", "COM7", "COM10", "COM7"}, "COM9"),
            (Names{"COM1", "COM2", "COM3", "COM4", "COM7", "COM9", "COM10", "COM12"}));
  EXPECT_EQ(PortChoices({}, "com2"), (Names{"COM1", "COM2", "COM3", "COM4"}));
  // an empty name, or one PortName cannot hold, is never offered
  EXPECT_EQ(PortChoices({std::string(32, 'X'), ""}, ""), (Names{"COM1", "COM2", "COM3", "COM4"}));
}

TEST(PortPath, OnlyCom1ToCom9GoWithoutTheDevicePrefix) {
  EXPECT_EQ(PortPath("COM9"), "COM9");
  EXPECT_EQ(PortPath("com1"), "com1");
  EXPECT_EQ(PortPath("COM10"), "\\\\.\\COM10");
  EXPECT_EQ(PortPath("COM256"), "\\\\.\\COM256");
  EXPECT_EQ(PortPath("CNCA0"), "\\\\.\\CNCA0");
  EXPECT_EQ(PortPath("\\\\.\\COM3"), "\\\\.\\COM3");
}

}  // namespace
