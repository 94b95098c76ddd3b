// The player driving a player that runs of its own: a private MPD, mpv on a
// private session bus. Keys change what mpc and playerctl report, changes
// made elsewhere reach the display, and a player that goes away is shown and
// found again.
#include <gtest/gtest.h>

#include "harness.h"
#include "mpd_server.h"
#include "session_bus.h"

namespace e2e {
namespace {

std::string SongTitle(int n) {
  const std::string number = std::to_string(n);
  return "Artist " + number + " - Album - Song " + number;
}

// Line 1 is a window of the title that tells it from the others (it holds
// one of its numbers).
bool ShowsTitle(const DisplayFrame& frame, const std::string& title) {
  return title.find(frame.line1) != std::string::npos &&
         frame.line1.find_first_of("0123456789") != std::string::npos;
}

bool WaitFor(const std::function<bool()>& done, int ms = 500 + kWaitMs) {
  const uint64_t end = MonotonicMs() + static_cast<uint64_t>(ms);
  while (!done()) {
    if (MonotonicMs() >= end) return false;
    SleepMs(20);
  }
  return true;
}

SessionOptions Reaching(const std::vector<std::string>& environment) {
  SessionOptions options;
  options.environment = environment;
  return options;
}

class MpdPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MpdServer::Available()) GTEST_SKIP() << "mpd, mpc or lame not installed";
    ASSERT_TRUE(server_.Start()) << server_.Log();
  }
  MpdServer server_;
};

TEST_F(MpdPlayer, KeysDriveTheServerAndTheDisplayFollowsIt) {
  Session s(Reaching(server_.Environment()));
  s.Start({"-s", s.slave(), "-p", "mpd"});
  ASSERT_TRUE(s.WaitReady()) << s.Trace();
  ASSERT_TRUE(s.Press(kPlay));
  EXPECT_TRUE(WaitFor([&] { return server_.State() == "playing"; }));
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return ShowsTitle(f, SongTitle(1)); }))
      << s.Trace();
  EXPECT_TRUE(s.WaitForTrace("Track 1: \"" + SongTitle(1) + "\""));

  ASSERT_TRUE(s.Press(kNext));
  EXPECT_TRUE(WaitFor([&] { return server_.Position() == 2; }));
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return f.line2.rfind("Trk 2 (", 0) == 0; }));
  ASSERT_TRUE(s.Press(kPrevious));
  EXPECT_TRUE(WaitFor([&] { return server_.Position() == 1; }));

  // Another client skips: line 1 follows at once.
  size_t mark = s.Frames().size();
  server_.Mpc("next");
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return ShowsTitle(f, SongTitle(2)); }, mark, 1500))
      << s.Trace();
  // The elapsed time moves while it plays, stands while it is paused.
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return f.line2.rfind("Trk 2 (0:02)", 0) == 0; }));
  ASSERT_TRUE(s.Press(kPause));
  EXPECT_TRUE(WaitFor([&] { return server_.State() == "paused"; }));
  ASSERT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return f.line2.rfind("Trk 2 [", 0) == 0; }));
  const std::string paused = s.Frames().back().line2;
  s.Pump(1500);
  EXPECT_EQ(s.Frames().back().line2, paused);

  server_.Mpc("volume 50");
  s.Pump(300);
  ASSERT_TRUE(s.Press(kVolumeUp));
  EXPECT_TRUE(WaitFor([&] { return server_.Volume() == 55; })) << s.Trace();
  ASSERT_TRUE(s.Press(kStop));
  EXPECT_TRUE(WaitFor([&] { return server_.State() == "stopped"; }));

  // Quitting leaves the server playing.
  server_.Mpc("play");
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
  EXPECT_EQ(server_.State(), "playing");
}

TEST_F(MpdPlayer, ServerThatGoesAwayIsShownAndFoundAgain) {
  server_.Mpc("play");
  Session s(Reaching(server_.Environment()));
  s.Start({"-s", s.slave(), "-p", "mpd"});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return ShowsTitle(f, SongTitle(1)); }));

  server_.Kill();
  ASSERT_TRUE(s.WaitForTrace("MPD not reachable")) << s.Trace();
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) {
    return std::string("MPD not reachable").find(f.line1) != std::string::npos;
  }));
  // Looked for a few times a second, no more.
  const double before = s.CpuSeconds();
  s.Pump(2000);
  EXPECT_LT(s.CpuSeconds() - before, 0.2);

  ASSERT_TRUE(server_.Start()) << server_.Log();
  server_.Mpc("play");
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return ShowsTitle(f, SongTitle(1)); },
                             s.Frames().size(), 3000))
      << s.Trace();
  server_.Kill();
  ASSERT_TRUE(s.WaitForTrace("MPD not reachable"));
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
}

TEST(MpdOptions, ListBesideTheServerIsAUsageError) {
  Session s;
  s.Start({"-s", s.slave(), "-p", "mpd", "song.mp3"});
  EXPECT_EQ(s.WaitExit(), 1);
  EXPECT_NE(s.Trace().find("Usage: norvelo"), std::string::npos) << s.Trace();
}

class DesktopPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SessionBus::Available()) GTEST_SKIP() << "dbus-daemon, mpv, mpv-mpris or playerctl missing";
    ASSERT_TRUE(bus_.Start()) << bus_.Log();
  }
  SessionBus bus_;
};

TEST_F(DesktopPlayer, KeysDriveThePlayerAndLine1ShowsItsTitle) {
  const std::string mpv = bus_.StartPlayer();
  ASSERT_FALSE(mpv.empty()) << bus_.Log();
  Session s(Reaching(bus_.Environment()));
  s.Start({"-s", s.slave(), "-p", "mpris"});
  ASSERT_TRUE(s.WaitReady());
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return ShowsTitle(f, SongTitle(1)); }))
      << s.Trace();

  ASSERT_TRUE(s.Press(kPause));
  EXPECT_TRUE(WaitFor([&] { return bus_.Status(mpv) == "Paused"; }));
  ASSERT_TRUE(s.Press(kPlay));
  EXPECT_TRUE(WaitFor([&] { return bus_.Status(mpv) == "Playing"; }));
  ASSERT_TRUE(s.Press(kNext));
  EXPECT_TRUE(WaitFor([&] { return bus_.Title(mpv) == "Song 2"; }));
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return ShowsTitle(f, SongTitle(2)); }));
  ASSERT_TRUE(s.Press(kPrevious));
  EXPECT_TRUE(WaitFor([&] { return bus_.Title(mpv) == "Song 1"; }));

  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
  EXPECT_EQ(bus_.Status(mpv), "Playing");
}

TEST_F(DesktopPlayer, PlayersTakeOverAndHandOverUntilNoneIsLeft) {
  Session s(Reaching(bus_.Environment()));
  s.Start({"-s", s.slave(), "-p", "mpris"});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.WaitForTrace("No player")) << s.Trace();
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return f.line1 == "No player       "; }));

  const std::string first = bus_.StartPlayer();
  ASSERT_FALSE(first.empty()) << bus_.Log();
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return ShowsTitle(f, SongTitle(1)); }));
  // A second one that starts playing takes over; when it goes, the first is back.
  const std::string second = bus_.StartPlayer(true, 1);
  ASSERT_FALSE(second.empty()) << bus_.Log();
  bus_.Playerctl("-p " + second + " play");
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return ShowsTitle(f, SongTitle(2)); }))
      << s.Trace();
  bus_.StopPlayer(second);
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return ShowsTitle(f, SongTitle(1)); },
                             s.Frames().size()))
      << s.Trace();

  bus_.StopPlayer(first);
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return f.line1 == "No player       "; },
                             s.Frames().size()));
  s.SendKey(kQuit);
  EXPECT_EQ(s.WaitExit(), 2);
}

}  // namespace
}  // namespace e2e
