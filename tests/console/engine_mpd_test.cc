// The MPD engine against a private server: what it shows follows the server,
// whoever changes it; what it sends changes the server as mpc sees it.
#include "console/engine_mpd.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "engine_loop.h"
#include "mpd_server.h"

namespace {

using e2e::MpdOptions;
using e2e::MpdServer;

bool IsState(const EngineEvent& e, PlayState state) {
  return e.kind == EngineEvent::kState && e.state == state;
}

class MpdEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MpdServer::Available()) GTEST_SKIP() << "mpd, mpc or lame not installed";
  }
  // The server's address in this process's environment, where the library
  // reads it.
  void Reach(const MpdServer& server) {
    for (const std::string& entry : server.Environment()) putenv(strdup(entry.c_str()));
  }
};

TEST_F(MpdEngineTest, FollowsTheServerAndDrivesIt) {
  MpdServer server;
  ASSERT_TRUE(server.Start()) << server.Log();
  Reach(server);
  MpdEngine engine;
  EngineLoop loop(engine);
  ASSERT_TRUE(engine.Start());
  ASSERT_TRUE(loop.RunUntilKind(EngineEvent::kVolume)) << loop.Dump();
  EXPECT_GE(loop.Find([](const EngineEvent& e) { return e.kind == EngineEvent::kReady; }), 0);
  EXPECT_EQ(loop.Last(EngineEvent::kVolume).volume, 100);

  engine.Play();
  ASSERT_TRUE(loop.RunUntilTitle("Artist 1 - Album - Song 1")) << loop.Dump();
  ASSERT_TRUE(loop.RunUntilEvent([](const EngineEvent& e) { return IsState(e, PlayState::kPlaying); }));
  EXPECT_EQ(loop.Last(EngineEvent::kEntry).entry, 0);
  EXPECT_EQ(server.State(), "playing");
  // Counted on between notifications, none of which comes while it plays on.
  size_t mark = loop.size();
  ASSERT_TRUE(loop.RunUntilEvent(
      [](const EngineEvent& e) { return e.kind == EngineEvent::kElapsed && e.seconds >= 1.5; }, mark));

  // Another client skips: the engine hears of it.
  mark = loop.size();
  server.Mpc("next");
  ASSERT_TRUE(loop.RunUntilTitle("Artist 2 - Album - Song 2", mark));
  EXPECT_EQ(loop.Last(EngineEvent::kEntry).entry, 1);

  // Ten forward stops at the queue's last entry; one back is the previous.
  mark = loop.size();
  EXPECT_TRUE(engine.Step(10));
  ASSERT_TRUE(loop.RunUntilTitle("Artist 3 - Album - Song 3", mark));
  EXPECT_EQ(server.Position(), 3);
  mark = loop.size();
  EXPECT_TRUE(engine.Step(-1));
  ASSERT_TRUE(loop.RunUntilTitle("Artist 2 - Album - Song 2", mark));

  mark = loop.size();
  engine.TogglePause();
  ASSERT_TRUE(loop.RunUntilEvent([](const EngineEvent& e) { return IsState(e, PlayState::kPaused); }, mark));
  EXPECT_EQ(server.State(), "paused");

  mark = loop.size();
  EXPECT_TRUE(engine.SetVolume(55));
  ASSERT_TRUE(loop.RunUntilKind(EngineEvent::kVolume, mark));
  EXPECT_EQ(loop.Last(EngineEvent::kVolume).volume, 55);
  EXPECT_EQ(server.Volume(), 55);

  mark = loop.size();
  engine.Stop();
  ASSERT_TRUE(loop.RunUntilEvent([](const EngineEvent& e) { return IsState(e, PlayState::kStopped); }, mark));

  // Quitting leaves the server as it is.
  engine.Play();
  ASSERT_TRUE(loop.RunUntilEvent([](const EngineEvent& e) { return IsState(e, PlayState::kPlaying); }));
  engine.Quit();
  EXPECT_EQ(server.State(), "playing");
}

TEST_F(MpdEngineTest, AwayServerIsLookedForWithoutSpinningAndFoundAgain) {
  MpdServer server;
  Reach(server);
  MpdEngine engine;
  EngineLoop loop(engine);
  ASSERT_TRUE(engine.Start());
  ASSERT_TRUE(loop.RunUntilEvent([](const EngineEvent& e) {
    return e.kind == EngineEvent::kAway && e.text == "MPD not reachable";
  }));
  // Nothing but the retry timer wakes it: a few services a second.
  const long before = loop.services();
  loop.RunUntil([] { return false; }, 2000);
  EXPECT_LE(loop.services() - before, 12);

  ASSERT_TRUE(server.Start()) << server.Log();
  size_t mark = loop.size();
  ASSERT_TRUE(loop.RunUntilKind(EngineEvent::kReady, mark, 3000));
  server.Mpc("play");
  ASSERT_TRUE(loop.RunUntilTitle("Artist 1 - Album - Song 1", mark));

  server.Kill();
  mark = loop.size();
  ASSERT_TRUE(loop.RunUntilKind(EngineEvent::kAway, mark));
  ASSERT_TRUE(server.Start()) << server.Log();
  mark = loop.size();
  ASSERT_TRUE(loop.RunUntilKind(EngineEvent::kReady, mark, 3000));
  ASSERT_TRUE(loop.RunUntilKind(EngineEvent::kTitle, mark));
}

TEST_F(MpdEngineTest, ServerWithoutMixerRefusesTheVolume) {
  MpdOptions options;
  options.tracks = 1;
  options.mixer = false;
  MpdServer server(options);
  ASSERT_TRUE(server.Start()) << server.Log();
  Reach(server);
  MpdEngine engine;
  EngineLoop loop(engine);
  ASSERT_TRUE(engine.Start());
  ASSERT_TRUE(loop.RunUntilKind(EngineEvent::kTitle));
  EXPECT_FALSE(engine.SetVolume(50));
  EXPECT_EQ(loop.Find([](const EngineEvent& e) { return e.kind == EngineEvent::kVolume; }), -1);
}

}  // namespace
