// The MPRIS engine on a private session bus with mpv players: it shows what
// the chosen player plays, whoever changes it, drives that player, and
// follows the players as they start playing, come and go.
#include "console/engine_mpris.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "engine_loop.h"
#include "session_bus.h"

namespace {

using e2e::SessionBus;

bool IsState(const EngineEvent& e, PlayState state) {
  return e.kind == EngineEvent::kState && e.state == state;
}

bool IsNote(const EngineEvent& e, const std::string& player) {
  return e.kind == EngineEvent::kNote && e.text == "MPRIS player: org.mpris.MediaPlayer2." + player;
}

class MprisEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SessionBus::Available()) GTEST_SKIP() << "dbus-daemon, mpv, mpv-mpris or playerctl missing";
    ASSERT_TRUE(bus_.Start()) << bus_.Log();
    for (const std::string& entry : bus_.Environment()) putenv(strdup(entry.c_str()));
  }
  SessionBus bus_;
};

TEST_F(MprisEngineTest, ShowsAndDrivesThePlayer) {
  const std::string mpv = bus_.StartPlayer();
  ASSERT_FALSE(mpv.empty()) << bus_.Log();
  MprisEngine engine("");
  EngineLoop loop(engine);
  ASSERT_TRUE(engine.Start());
  ASSERT_TRUE(loop.RunUntilTitle("Artist 1 - Album - Song 1")) << loop.Dump();
  EXPECT_EQ(loop.Last(EngineEvent::kEntry).entry, 0);
  EXPECT_TRUE(IsState(loop.Last(EngineEvent::kState), PlayState::kPlaying));

  size_t mark = loop.size();
  engine.TogglePause();
  ASSERT_TRUE(loop.RunUntilEvent([](const EngineEvent& e) { return IsState(e, PlayState::kPaused); }, mark));
  EXPECT_EQ(bus_.Status(mpv), "Paused");

  mark = loop.size();
  EXPECT_TRUE(engine.Step(1));
  ASSERT_TRUE(loop.RunUntilTitle("Artist 2 - Album - Song 2", mark)) << loop.Dump();
  mark = loop.size();
  bus_.Playerctl("-p " + mpv + " previous");
  ASSERT_TRUE(loop.RunUntilTitle("Artist 1 - Album - Song 1", mark)) << loop.Dump();
  EXPECT_FALSE(engine.Step(10));

  mark = loop.size();
  engine.Play();
  ASSERT_TRUE(loop.RunUntilEvent([](const EngineEvent& e) { return IsState(e, PlayState::kPlaying); }, mark));
  mark = loop.size();
  engine.JumpFrames(200);
  ASSERT_TRUE(loop.RunUntilEvent(
      [](const EngineEvent& e) { return e.kind == EngineEvent::kElapsed && e.seconds >= 5; }, mark))
      << loop.Dump();

  mark = loop.size();
  EXPECT_TRUE(engine.SetVolume(40));
  ASSERT_TRUE(loop.RunUntilEvent(
      [](const EngineEvent& e) { return e.kind == EngineEvent::kVolume && e.volume == 40; }, mark))
      << loop.Dump();

  engine.Quit();
  EXPECT_EQ(bus_.Status(mpv), "Playing");
}

TEST_F(MprisEngineTest, FollowsThePlayersAsTheyPlayComeAndGo) {
  MprisEngine engine("");
  EngineLoop loop(engine);
  ASSERT_TRUE(engine.Start());
  ASSERT_TRUE(loop.RunUntilEvent(
      [](const EngineEvent& e) { return e.kind == EngineEvent::kAway && e.text == "No player"; }));

  const std::string first = bus_.StartPlayer(true);
  ASSERT_FALSE(first.empty()) << bus_.Log();
  ASSERT_TRUE(loop.RunUntilEvent([&](const EngineEvent& e) { return IsNote(e, first); })) << loop.Dump();
  const std::string second = bus_.StartPlayer(true);
  ASSERT_FALSE(second.empty()) << bus_.Log();

  // The one that starts playing takes over; the one that leaves hands over.
  size_t mark = loop.size();
  bus_.Playerctl("-p " + second + " play");
  ASSERT_TRUE(loop.RunUntilEvent([&](const EngineEvent& e) { return IsNote(e, second); }, mark))
      << loop.Dump();
  mark = loop.size();
  bus_.StopPlayer(second);
  ASSERT_TRUE(loop.RunUntilEvent([&](const EngineEvent& e) { return IsNote(e, first); }, mark))
      << loop.Dump();

  // A name takes its player whatever plays.
  MprisEngine named(first.substr(0, first.find('.')));
  EngineLoop namedLoop(named);
  ASSERT_TRUE(named.Start());
  ASSERT_TRUE(namedLoop.RunUntilEvent([&](const EngineEvent& e) { return IsNote(e, first); }));

  mark = loop.size();
  bus_.StopPlayer(first);
  ASSERT_TRUE(loop.RunUntilKind(EngineEvent::kAway, mark));
}

}  // namespace
