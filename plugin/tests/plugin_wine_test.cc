// End-to-end tests of the x86_64 build of the plug-in under Wine: a substitute
// host loads it and answers its requests, and this program plays the control
// unit on the other side of a pseudo-terminal mapped to COM5.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "plugin/tests/wine_session.h"

namespace {

namespace fs = std::filesystem;

using wine::Frame;
using wine::Line;

// What the suite shares: one Wine prefix and one pseudo-terminal.
wine::Prefix* Shared = nullptr;
bool NoWine = false;

std::string DllPath() { return std::string(WIN64_DIR) + "/gen_norvelo.dll"; }
std::string HostPath() { return std::string(WIN64_DIR) + "/norvelo_host.exe"; }

// A host session whose failures count against the running test.
class Session : public wine::HostSession {
 public:
  Session() : HostSession(*Shared, WIN64_DIR) {}

  void Init(const std::vector<std::string>& state, const std::string& port = "COM5") {
    ASSERT_TRUE(HostSession::Init(state, port)) << Log();
  }
  void Send(const std::string& line) {
    if (!HostSession::Send(line)) ADD_FAILURE() << "host gone";
  }
  void Key(uint8_t command, uint8_t system = 20) {
    if (!HostSession::Key(command, system)) ADD_FAILURE() << "pty write";
  }
  // Frames reach the line and a key acts: the port in use works.
  void ExpectPortWorks() {
    EXPECT_NE(WaitLine2("Trk 3 (1:23)    ", 3000), nullptr) << Log();
    Messages();
    Key(53);
    EXPECT_TRUE(WaitLine("cmd 40045", 3000)) << Log();
  }
  // Whether the host ever said a line starting with prefix.
  bool Said(const std::string& prefix) const {
    return std::any_of(lines.begin(), lines.end(), [&](const Line& l) { return l.text.rfind(prefix, 0) == 0; });
  }
  // The unread host lines once `last` is among them and the host has said
  // all it had to until then.
  std::vector<std::string> MessagesThrough(const std::string& last, int ms = 2000) {
    std::vector<std::string> unread;
    auto came = [&] {
      for (std::string& line : Messages()) unread.push_back(std::move(line));
      return std::find(unread.begin(), unread.end(), last) != unread.end();
    };
    if (PumpUntil(came, ms) && Sync()) came();
    return unread;
  }
};

class PluginUnderWine : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    Shared = new wine::Prefix;
    NoWine = !wine::Prefix::WineInstalled();
    if (NoWine) return;
    if (access(DllPath().c_str(), R_OK) != 0 || access(HostPath().c_str(), R_OK) != 0) {
      Shared->error = "missing " + DllPath() + " or " + HostPath();
      return;
    }
    Shared->Create();
  }

  static void TearDownTestSuite() {
    delete Shared;
    Shared = nullptr;
  }

 protected:
  void SetUp() override {
    if (NoWine) GTEST_SKIP() << "wine64 is not installed";
    ASSERT_TRUE(Shared->error.empty()) << Shared->error;
  }
  Session s;
};

const std::vector<std::string> kPlaying = {"len 10", "pos 2", "play 1", "time 83000",
                                           "title 2 Hello", "wave 0"};

TEST_F(PluginUnderWine, RecordStatusLineAndFramesWithoutKeys) {
  s.Init(kPlaying);
  EXPECT_EQ(s.lines.front().text, "record 16 Norvelo control plugin (x86)");
  ASSERT_NE(s.WaitLine2("Trk 3 (1:23)    ", 3000), nullptr) << s.Log();
  EXPECT_EQ(s.frames.back().line1, "           Hello");

  const size_t first = s.frames.size();
  s.Pump(3000);
  ASSERT_GE(s.frames.size() - first, 5u) << s.Log();
  for (size_t i = first; i < s.frames.size(); ++i) EXPECT_LT(s.frames[i].ms - s.frames[i - 1].ms, 900);

  s.Send("time 3723000");
  EXPECT_NE(s.WaitLine2("Trk 3 (62:03)   ", 3000), nullptr) << s.Log();
  s.Send("play 3");
  EXPECT_NE(s.WaitLine2("Trk 3 [62:03]   ", 3000), nullptr) << s.Log();
  s.Send("play 0");
  s.Send("pos 999");
  EXPECT_NE(s.WaitLine2("Trk 1000 (stop) ", 3000), nullptr) << s.Log();

  // The host's answers are asked for about once a second, not every frame.
  s.Send("play 1");
  s.MarkFrames();
  const size_t from = s.frames.size();
  for (int k = 0; k < 20; ++k) {
    s.Send("time " + std::to_string(k * 1000));
    s.Pump(200);
  }
  std::vector<std::string> texts;
  for (size_t i = from; i < s.frames.size(); ++i)
    if (texts.empty() || texts.back() != s.frames[i].line2) texts.push_back(s.frames[i].line2);
  EXPECT_GE(texts.size(), 2u) << s.Log();
  EXPECT_LE(texts.size(), 6u) << s.Log();
  for (const Line& l : s.lines) EXPECT_NE(l.text.rfind("box", 0), 0u) << l.text;
}

TEST_F(PluginUnderWine, OnlyTwoSystemsAndTheRepeatFilter) {
  s.Init(kPlaying);
  ASSERT_TRUE(s.WaitLine2("Trk 3 (1:23)    ", 3000)) << s.Log();
  s.Messages();
  s.Key(53, 5);
  s.Key(53, 0);
  s.Pump(700);
  EXPECT_TRUE(s.Messages().empty()) << s.Log();

  s.Key(53, 0);  // other systems do not restart the window
  s.Pump(50);
  s.Key(53, 16);
  ASSERT_TRUE(s.WaitLine("cmd 40045", 2000)) << s.Log();

  s.Pump(400);
  s.Key(32);
  s.Pump(60);
  s.Key(33);  // a different key 60 ms later is lost
  s.Pump(800);
  EXPECT_EQ(s.Messages(), (std::vector<std::string>{"cmd 40048 0"})) << s.Log();

  for (int i = 0; i < 25; ++i) { s.Key(54); s.Pump(60); }  // held: acts once
  s.Pump(600);
  EXPECT_EQ(s.Messages(), (std::vector<std::string>{"cmd 40047 0"})) << s.Log();

  s.Send("wave 0");
  for (int i = 0; i < 25; ++i) { s.Key(16); s.Pump(60); }  // held volume key repeats
  s.Pump(600);
  const std::vector<std::string> volume = s.Messages();
  EXPECT_GE(volume.size(), 3u) << s.Log();
  EXPECT_LE(volume.size(), 10u) << s.Log();
  for (const std::string& v : volume) EXPECT_EQ(v, "req 122 5");  // the device still reads 0
}

TEST_F(PluginUnderWine, EveryCommandOfTheTable) {
  s.Init({"len 35", "pos 24", "play 1", "time 0", "title 24 Song", "wave " + std::to_string(51000 | (51000 << 16))});
  ASSERT_TRUE(s.WaitLine2("Trk 25 (0:00)   ", 3000)) << s.Log();
  struct Step { uint8_t key; std::vector<std::string> sent; const char* text; };
  const std::string bar12 = ">>>>>>>>>>>>    ";
  const Step steps[] = {
      {32, {"cmd 40048 0"}, "Prog+"},
      {33, {"cmd 40044 0"}, "Prog-"},
      {53, {"cmd 40045 0"}, "Play"},
      {54, {"cmd 40047 0"}, "Stop"},
      {48, {"cmd 40046 0"}, "Un/pause"},
      {26, {"req 124", "req 121 14", "cmd 40045 0"}, "Down 10"},
      {30, {"req 124", "req 121 34", "cmd 40045 0"}, "Up 10"},
      {63, {"req 124", "req 121 0", "cmd 40045 0"}, "Start PL"},
      {12, {"req 122 1"}, "Mute"},
      {16, {"req 122 200", "req 122 205"}, ">>>>>>>>>>>>    "},
      {17, {"req 122 195"}, ">>>>>>>>>>>>    "},
  };
  // Keys closer than 200 ms would be taken for repeats: each waits its turn.
  const int kApart = 250;
  for (const Step& step : steps) {
    s.Messages();
    s.MarkFrames();
    s.Key(step.key);
    EXPECT_EQ(s.MessagesThrough(step.sent.back()), step.sent) << int(step.key) << s.Log();
    EXPECT_NE(s.WaitLine2(step.text, 2000), nullptr) << int(step.key) << s.Log();
    s.Pump(kApart);
  }
  s.Key(12);  // mute, then unmute: volume back, line 2 keeps its text
  EXPECT_EQ(s.MessagesThrough("req 122 1"), (std::vector<std::string>{"req 122 1"})) << s.Log();
  s.Pump(kApart);
  s.Key(12);
  EXPECT_EQ(s.MessagesThrough("req 122 200"), (std::vector<std::string>{"req 122 200"})) << s.Log();
  s.MarkFrames();
  EXPECT_NE(s.WaitLine2("Mute", 2000), nullptr) << s.Log();

  s.Send("len 34");
  ASSERT_TRUE(s.Sync()) << s.Log();
  s.Pump(kApart);
  s.Key(30);
  EXPECT_EQ(s.MessagesThrough("req 124"), (std::vector<std::string>{"req 124"})) << s.Log();
  EXPECT_NE(s.WaitLine2("Errore seek", 2000), nullptr) << s.Log();
  // A pass that asked for the current entry just before the change asks for
  // that entry's title after it: wait for the pass that shows the new one.
  s.Send("title 4 Four");
  s.Send("pos 4");
  ASSERT_TRUE(s.PumpUntil([&] { return s.frames.back().line1 == "            Four"; }, 3000)) << s.Log();
  ASSERT_TRUE(s.Sync()) << s.Log();
  s.Messages();
  s.Key(40);  // no action
  s.Pump(kApart);
  s.Key(26);
  EXPECT_EQ(s.MessagesThrough("req 124"), (std::vector<std::string>{"req 124"})) << s.Log();
}

TEST_F(PluginUnderWine, DigitEntryCommitsByTimeOutOrKey) {
  s.Init({"len 20", "pos 0", "play 1", "time 0", "title 0 Song"});
  ASSERT_TRUE(s.WaitLine2("Trk 1 (0:00)    ", 3000)) << s.Log();
  s.Messages();
  s.Key(1);
  EXPECT_NE(s.WaitLine2("Brano 1", 2000), nullptr) << s.Log();
  s.Pump(300);
  s.Key(2);
  const long typed = s.Now();
  EXPECT_NE(s.WaitLine2("Brano 12", 2000), nullptr) << s.Log();
  ASSERT_TRUE(s.WaitLine("cmd 40045", 4000)) << s.Log();
  const long committed = s.lines.back().ms;
  EXPECT_GT(committed - typed, 900);
  EXPECT_LT(committed - typed, 2500);
  s.Pump(300);

  s.Messages();
  s.Key(0);
  s.Pump(250);
  s.Key(0);
  s.Pump(250);
  s.Key(5);
  EXPECT_NE(s.WaitLine2("Brano 5", 2000), nullptr) << s.Log();
  s.Pump(250);
  s.Key(53);  // only ends the number
  s.Pump(1500);
  EXPECT_EQ(s.Messages(), (std::vector<std::string>{"req 124", "req 121 4", "cmd 40045 0"})) << s.Log();

  s.Send("len 11");
  s.Key(1);
  s.Pump(250);
  s.Key(2);
  EXPECT_NE(s.WaitLine2("Errore seek", 4000), nullptr) << s.Log();
  EXPECT_EQ(s.Messages(), (std::vector<std::string>{"req 124"})) << s.Log();
}

TEST_F(PluginUnderWine, FeedbackStaysForMoreThanASecond) {
  s.Init(kPlaying);
  ASSERT_TRUE(s.WaitLine2("Trk 3 (1:23)    ", 3000)) << s.Log();
  s.Pump(300);
  s.Key(32);
  const Frame* shown = s.WaitLine2("Prog+", 2000);
  ASSERT_NE(shown, nullptr) << s.Log();
  const long since = shown->ms;
  const Frame* back = s.WaitLine2("Trk 3 (1:23)    ", 3000);
  ASSERT_NE(back, nullptr) << s.Log();
  EXPECT_GT(back->ms - since, 950) << s.Log();
  EXPECT_LT(back->ms - since, 2000) << s.Log();
}

TEST_F(PluginUnderWine, TitleTickerBouncesEveryHalfSecond) {
  const std::string title = "ABCDEFGHIJKLMNOPQRST";
  s.Init({"len 3", "pos 0", "play 1", "time 0", "title 0 " + title});
  ASSERT_TRUE(s.PumpUntil([&] { return !s.frames.empty(); }, 3000)) << s.Log();
  const size_t from = s.frames.size() - 1;
  s.Pump(6500);
  struct Stretch { int start; long from, to; };
  std::vector<Stretch> runs;
  for (size_t i = from; i < s.frames.size(); ++i) {
    const int start = static_cast<int>(title.find(s.frames[i].line1));
    ASSERT_EQ(s.frames[i].line1.size(), 16u);
    if (runs.empty() || runs.back().start != start) runs.push_back({start, s.frames[i].ms, s.frames[i].ms});
    runs.back().to = s.frames[i].ms;
  }
  std::vector<int> starts;
  for (const Stretch& r : runs) starts.push_back(r.start);
  ASSERT_GE(starts.size(), 9u) << s.Log();
  const std::vector<int> cycle = {0, 1, 2, 3, 4, 3, 2, 1, 0, 1, 2, 3, 4};
  for (size_t i = 0; i < starts.size() && i < cycle.size(); ++i) EXPECT_EQ(starts[i], cycle[i]) << i;
  // ends stay for two steps, the rest for one
  for (size_t i = 1; i + 1 < runs.size(); ++i) {
    const long length = runs[i + 1].from - runs[i].from;
    if (runs[i].start == 0 || runs[i].start == 4) EXPECT_GT(length, 800) << i;
    else EXPECT_LT(length, 800) << i;
  }

  s.Send("title 0 Short");
  const long changed = s.Now();
  ASSERT_TRUE(s.PumpUntil([&] { return s.frames.back().line1 == "           Short"; }, 2000)) << s.Log();
  EXPECT_LT(s.frames.back().ms - changed, 400);
  s.Send("nulltitle 0");
  EXPECT_TRUE(s.PumpUntil([&] { return s.frames.back().line1 == std::string(16, ' '); }, 2000)) << s.Log();
}

TEST_F(PluginUnderWine, DialogStoresThePortAndQuitStopsTheThreads) {
  s.Init(kPlaying);
  ASSERT_TRUE(s.WaitLine2("Trk 3 (1:23)    ", 3000)) << s.Log();
  s.Send("config cancel");
  ASSERT_TRUE(s.WaitLine("config done", 5000)) << s.Log();
  s.Send("regset COM1");  // cancel stores nothing: prove it by changing it here
  s.Send("config ok COM5");
  ASSERT_TRUE(s.WaitLine("dialog id=101 found=1 owner=1", 5000)) << s.Log();
  ASSERT_TRUE(s.WaitLine("dialog items=COM1,COM2,COM3,COM4,COM5,COM7 sel=COM5", 5000)) << s.Log();
  ASSERT_TRUE(s.WaitLine("config done", 5000)) << s.Log();
  s.Send("regget");
  EXPECT_TRUE(s.WaitLine("reg COM5 type=1", 5000)) << s.Log();

  s.Pump(500);  // the reopened port carries keys and frames
  s.Messages();
  s.Key(53);
  EXPECT_TRUE(s.WaitLine("cmd 40045", 2000)) << s.Log();
  EXPECT_NE(s.WaitLine2("Play", 2000), nullptr) << s.Log();

  s.Send("config ok COM2");
  ASSERT_TRUE(s.WaitLine("config done", 5000)) << s.Log();
  s.Send("regget");
  EXPECT_TRUE(s.WaitLine("reg COM2 type=1", 5000)) << s.Log();
  s.Send("regset COM5");
  s.Send("config ok none");  // no selection keeps the name it has: COM2
  ASSERT_TRUE(s.WaitLine("config done", 5000)) << s.Log();
  s.Send("regget");
  EXPECT_TRUE(s.WaitLine("reg COM2 type=1", 5000)) << s.Log();

  s.Send("quit");
  ASSERT_TRUE(s.WaitLine("quit done", 5000)) << s.Log();
  s.Pump(300);
  const size_t frames = s.frames.size();
  s.Messages();
  s.Key(32);
  s.Pump(1500);
  EXPECT_EQ(s.frames.size(), frames);
  EXPECT_TRUE(s.Messages().empty()) << s.Log();
}

// Beyond COM4: the machine's own ports are offered, a stored one that is
// missing stays selectable, and the one chosen carries keys and frames.
TEST_F(PluginUnderWine, DialogOffersTheMachinesPortsBeyondCom4) {
  s.Init(kPlaying, "COM9");
  s.Send("config ok COM7");
  ASSERT_TRUE(s.WaitLine("dialog items=COM1,COM2,COM3,COM4,COM5,COM7,COM9 sel=COM9", 5000)) << s.Log();
  ASSERT_TRUE(s.WaitLine("config done", 5000)) << s.Log();
  s.Send("regget");
  EXPECT_TRUE(s.WaitLine("reg COM7 type=1", 5000)) << s.Log();
  s.ExpectPortWorks();
  EXPECT_FALSE(s.Said("box 1 16 Errore|Impossibile impostare COM7!")) << s.Log();
}

// The port chosen again and again while a held volume key floods the line
// and a line-event wait is pending: every reopen succeeds, and each time keys
// read on the new port act.
TEST_F(PluginUnderWine, PortChangesDuringAKeyStorm) {
  std::vector<std::string> state = kPlaying;
  state.push_back("stubwait");
  s.Init(state);
  ASSERT_TRUE(s.WaitLine2("Trk 3 (1:23)    ", 3000)) << s.Log();
  for (int change = 0; change < 20; ++change) {
    s.Send(std::string("config ok ") + (change % 2 == 0 ? "COM7" : "COM5"));
    bool done = false;
    int acted = 0;  // the first might have been read on the old port
    const long until = s.Now() + 5000;
    while (s.Now() < until && acted < 2) {
      s.Key(16);
      s.Pump(30);
      for (const std::string& m : s.Messages()) {
        done = done || m == "config done";
        acted += done && m.rfind("req 122 ", 0) == 0;
      }
    }
    ASSERT_EQ(acted, 2) << "change " << change << "\n" << s.Log();
  }
  ASSERT_TRUE(s.Sync()) << s.Log();
  EXPECT_FALSE(s.Said("box")) << s.Log();
  EXPECT_FALSE(s.Said("stale")) << s.Log();
}

TEST_F(PluginUnderWine, MissingPortIsReportedAndBeepsAreRateLimited) {
  s.Init(kPlaying, "COM9");
  const long shown = s.FindLine("box");
  (void)shown;
  bool box = false;
  for (const Line& l : s.lines) box = box || l.text == "box 1 16 Errore|Impossibile impostare COM9!";
  EXPECT_TRUE(box) << s.Log();
  const long from = s.Now();
  s.Pump(4000);
  int beeps = 0;
  for (const Line& l : s.lines)
    if (l.text == "beep 0" && l.ms >= from) ++beeps;
  // two threads, each at most one beep a second
  EXPECT_GE(beeps, 2) << s.Log();
  EXPECT_LE(beeps, 10) << s.Log();
  EXPECT_TRUE(s.frames.empty());
  s.Send("sync");
  EXPECT_TRUE(s.WaitLine("sync", 3000)) << s.Log();
}

// The port missing at start, then plugged in and chosen again: the threads
// neither spin nor hang meanwhile, and frames and keys resume on it.
TEST_F(PluginUnderWine, PortChosenAgainAfterStartingWithout) {
  const fs::path com2 = fs::path(Shared->dir) / "dosdevices" / "com2";
  std::error_code ec;
  fs::remove(com2, ec);
  s.Init(kPlaying, "COM2");
  const double before = s.CpuSeconds();
  s.Pump(3000);
  EXPECT_LT((s.CpuSeconds() - before) / 3.0, 0.25) << "threads spin on the missing port";
  EXPECT_TRUE(s.frames.empty());
  fs::create_symlink(ptsname(Shared->master), com2, ec);
  ASSERT_FALSE(ec) << ec.message();
  s.Send("config ok COM2");
  ASSERT_TRUE(s.WaitLine("config done", 5000)) << s.Log();
  s.ExpectPortWorks();
  fs::remove(com2, ec);
}

// The host's whole life with the plug-in, fifty times over in one process:
// load, init, keys and frames in flight, quit, unload, and the host running
// on for a second with keys still arriving. Nothing of the plug-in may be
// left: no thread, no handle beyond a few, and quit never takes long.
TEST_F(PluginUnderWine, FiftyCyclesOfLoadQuitUnload) {
  ASSERT_TRUE(s.Start()) << s.Log();
  s.Send("stubwait");
  s.Send("regset COM5");
  for (const std::string& line : kPlaying) s.Send(line);
  s.Send("wave " + std::to_string(51000 | (51000 << 16)));  // 200: each key sends 205
  const wine::HostSession::Counts start = s.Count();
  ASSERT_GT(start.threads, 0) << s.Log();
  ASSERT_GT(start.handles, 0) << s.Log();
  for (int cycle = 0; cycle < 50; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    if (cycle > 0) {
      s.Send("load");
      ASSERT_TRUE(s.WaitLine("record ", 10000)) << s.Log();
    }
    s.MarkFrames();
    s.Send("init");
    ASSERT_TRUE(s.WaitLine("init 0", 10000)) << s.Log();
    s.Key(16);
    ASSERT_TRUE(s.WaitLine("req 122 205", 3000)) << s.Log();
    ASSERT_NE(s.WaitLine2(">>>>>>>>>>>>    ", 3000), nullptr) << s.Log();
    for (int i = 0; i < 5; ++i) { s.Key(16); s.Pump(20); }
    s.Send("quit");
    for (int i = 0; i < 5; ++i) s.Key(16);
    double quitMs = 1e9;
    ASSERT_EQ(sscanf(s.LineStarting("quit done ", 5000).c_str(), "quit done %lf", &quitMs), 1) << s.Log();
    EXPECT_LT(quitMs, 1500) << s.Log();
    s.Send("unload");
    ASSERT_TRUE(s.WaitLine("unloaded 1 pending 0", 5000)) << s.Log();
    s.Messages();
    for (int i = 0; i < 10; ++i) { s.Key(16); s.Pump(100); }
    EXPECT_TRUE(s.Messages().empty()) << s.Log();
    const wine::HostSession::Counts now = s.Count();
    EXPECT_EQ(now.threads, start.threads) << s.Log();
    EXPECT_LE(now.handles, start.handles + 5) << s.Log();
  }
  EXPECT_FALSE(s.Said("stale")) << s.Log();
  EXPECT_FALSE(s.Said("terminate")) << s.Log();  // every worker stopped when asked
}

}  // namespace
