// The player's logic against an engine that is only a record of actions: what
// every engine gets from the keys and what the player makes of its reports.
#include <gtest/gtest.h>

#include "console/dispatch.h"
#include "console/events.h"
#include "fake_engine.h"
#include "fixture.h"

namespace {

using Actions = std::vector<std::string>;

struct EnginePlayer : TestPlayer {
  FakeEngine fake;
  explicit EnginePlayer(bool ownList, int tracks = 3) : TestPlayer(tracks) {
    fake.ownList = ownList;
    state.engine = &fake;
  }
  void Press(uint16_t code) {
    clock.now += 1000;
    const uint8_t frame[2] = {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8)};
    exits.Note(DispatchKey(state, frame));
  }
  void Report(EngineEvent event) { exits.Note(HandleEngineEvent(state, event)); }
  void Report(EngineEvent::Kind kind, const std::string& text = "") {
    Report(EngineEvent::Of(kind, text));
  }
};

constexpr uint16_t kPlay = 0x3535, kPause = 0x3530, kStop = 0x3536, kNext = 0x3520, kPrev = 0x3521,
                   kMode = 0x353F;

EngineEvent StateOf(PlayState state) {
  EngineEvent event = EngineEvent::Of(EngineEvent::kState);
  event.state = state;
  return event;
}

TEST(EngineLogic, KeysBecomeTheSameActionsForEveryEngineThatPlaysOurList) {
  EnginePlayer p(false);
  p.Report(EngineEvent::kReady);
  EXPECT_EQ(p.fake.Take(), Actions{"load 0"});
  // Two mode presses: seek mode, where next is the forward jump.
  for (uint16_t key : {kPause, kPlay, kNext, kPrev, kStop, kMode, kMode, kNext}) p.Press(key);
  EXPECT_EQ(p.fake.Take(),
            (Actions{"pause", "pause", "load 1", "load 0", "stop", "jump 200"}));
}

// A music server's queue: the server moves, the player follows its reports.
TEST(EngineLogic, AnEngineWithItsOwnListIsFollowedNotLed) {
  EnginePlayer p(true);
  p.Report(EngineEvent::kReady);
  EXPECT_EQ(p.fake.Take(), Actions{});  // nothing is loaded: the server plays what it has
  p.Press(kPlay);
  p.Press(kNext);
  p.Press(kMode);  // tens
  p.Press(kNext);
  EXPECT_EQ(p.fake.Take(), (Actions{"play", "step 1", "step 10"}));
  EngineEvent entry = EngineEvent::Of(EngineEvent::kEntry);
  entry.entry = 6;
  p.Report(entry);
  p.Report(StateOf(PlayState::kPaused));
  EXPECT_EQ(p.state.transport.track, 6);
  EXPECT_TRUE(p.state.transport.paused && p.state.transport.playing);
  p.Press(kPlay);  // paused: goes on
  EXPECT_EQ(p.fake.Take(), Actions{"pause"});
  p.Report(EngineEvent::kEntryEnded);  // the server goes on by itself
  EXPECT_TRUE(p.exits.quits.empty());
  EXPECT_EQ(p.state.transport.track, 6);
  p.fake.canStep = false;
  p.TakeTrace();
  p.Press(kNext);
  EXPECT_EQ(p.TakeTrace(), "IR Command: 3520\nfake: no step of +10 entries there\n");
}

TEST(EngineLogic, WhatIsMissingShowsOnLineOneOnceUntilTheEngineIsBack) {
  EnginePlayer p(true);
  p.Report(EngineEvent::kAway, "MPD not reachable");
  p.Report(EngineEvent::kAway, "MPD not reachable");
  EXPECT_EQ(p.TakeTrace(), "MPD not reachable\n");
  EXPECT_EQ(p.state.display.title, "MPD not reachable");
  p.Report(EngineEvent::kReady);
  p.Report(EngineEvent::kAway, "MPD not reachable");
  EXPECT_EQ(p.TakeTrace(), "MPD not reachable\n");
}

TEST(EngineLogic, UnplayableEntriesAreSkippedAndAListOfNoneEndsWithStatusOne) {
  EnginePlayer p(false, 2);
  p.Report(EngineEvent::kReady);
  p.Report(EngineEvent::kEntryFailed, "No such file or directory");
  p.Report(EngineEvent::kEntryEnded);
  EXPECT_EQ(p.fake.Take(), (Actions{"load 0", "load 1"}));
  EXPECT_EQ(p.TakeTrace(), "Unable to play /m/t1.mp3: No such file or directory\n");
  p.Report(EngineEvent::kEntryFailed, "No such file or directory");
  p.Report(EngineEvent::kEntryEnded);
  EXPECT_EQ(p.exits.quits, std::vector<int>{1});

  EnginePlayer some(false, 2);  // one entry played: the end of the list is no failure
  some.Report(EngineEvent::kReady);
  some.Report(EngineEvent::kTitle, "Song");
  some.Report(EngineEvent::kEntryEnded);
  some.Report(EngineEvent::kEntryFailed, "bad");
  some.Report(EngineEvent::kEntryEnded);
  EXPECT_EQ(some.exits.quits, std::vector<int>{0});
}

TEST(EngineLogic, NoSoundOutputIsSaidOnceAndStopsFeedingTracks) {
  EnginePlayer p(false);
  p.Report(EngineEvent::kReady);
  p.Report(EngineEvent::kNoOutput, "cannot open /dev/dsp");
  p.Report(EngineEvent::kNoOutput, "cannot open /dev/dsp");
  EXPECT_EQ(p.TakeTrace(), "No sound output could be opened: cannot open /dev/dsp\n");
  EXPECT_EQ(p.state.display.title, "No sound output");
  p.fake.Take();
  p.Report(EngineEvent::kEntryEnded);
  EXPECT_EQ(p.fake.Take(), Actions{});
}

}  // namespace
