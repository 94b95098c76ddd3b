// End-to-end tests of the x86_64 build of the plug-in under Wine: a substitute
// host loads it and answers its requests, and this program plays the control
// unit on the other side of a pseudo-terminal mapped to COM5.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kWine[] = "/usr/lib/wine/wine64";

std::string WindowsPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// Runs a program to its end, or kills it after timeoutMs; the exit status or -1.
int RunToEnd(const std::vector<std::string>& args, int timeoutMs) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usleep(20000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

struct Frame {
  long ms;  // arrival, since the session began
  std::string line1, line2;
};

struct Line {
  long ms;
  std::string text;
};

// What the suite shares: one Wine prefix and one pseudo-terminal.
struct WineSetup {
  std::string prefix, error;
  int master = -1, slave = -1;
};
WineSetup* Shared = nullptr;

std::string DllPath() { return std::string(WIN64_DIR) + "/gen_norvelo.dll"; }
std::string HostPath() { return std::string(WIN64_DIR) + "/norvelo_host.exe"; }

// One run of the substitute host with the plug-in loaded.
class Session {
 public:
  Session() : start_(std::chrono::steady_clock::now()) {}
  ~Session() { Stop(); }

  bool Start() {
    Drain();
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      // NORVELO_WINE_LOG keeps what Wine and the host print on stderr.
      const char* log = getenv("NORVELO_WINE_LOG");
      const int err = open(log ? log : "/dev/null", O_WRONLY | O_CREAT | O_APPEND, 0644);
      dup2(err, 2);
      close(in[1]);
      close(out[0]);
      const std::string host = HostPath(), dll = WindowsPath(DllPath());
      execl(kWine, kWine, host.c_str(), dll.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toHost_ = in[1];
    fromHost_ = out[0];
    fcntl(fromHost_, F_SETFL, O_NONBLOCK);
    return WaitLine("record ", 60000);
  }

  // Starts the plug-in on a host with the given state and waits for its first frame.
  void Init(const std::vector<std::string>& state, const std::string& port = "COM5") {
    ASSERT_TRUE(Start()) << Log();
    Send("regset " + port);
    for (const std::string& s : state) Send(s);
    Send("init");
    ASSERT_TRUE(WaitLine("init 0", 20000)) << Log();
  }

  void Stop() {
    if (pid_ <= 0) return;
    Send("exit");
    for (int i = 0; i < 250; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) { pid_ = -1; break; }
      usleep(20000);
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    close(toHost_);
    close(fromHost_);
  }

  void Send(const std::string& line) {
    const std::string text = line + "\n";
    if (write(toHost_, text.data(), text.size()) < 0) ADD_FAILURE() << "host gone";
  }

  // An IrFrame as the control unit sends it, start bits set.
  void Key(uint8_t command, uint8_t system = 20) {
    const uint8_t bytes[2] = {static_cast<uint8_t>((command & 0x3F) | ((system & 3) << 6)),
                              static_cast<uint8_t>(0x30 | ((system >> 2) & 7))};
    if (write(Shared->master, bytes, 2) != 2) ADD_FAILURE() << "pty write";
  }

  long Now() const {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start_).count());
  }

  // Collects host lines and frames for ms, or until done() holds.
  bool PumpUntil(const std::function<bool()>& done, int ms) {
    const long end = Now() + ms;
    while (!done()) {
      const long left = end - Now();
      if (left <= 0) return false;
      Poll(static_cast<int>(std::min(left, 20L)));
    }
    return true;
  }
  void Pump(int ms) { PumpUntil([] { return false; }, ms); }

  // Waits for a host line starting with prefix after those already looked at.
  bool WaitLine(const std::string& prefix, int ms) {
    return PumpUntil([&] { return FindLine(prefix) >= 0; }, ms);
  }
  long FindLine(const std::string& prefix) {
    for (size_t i = lineMark_; i < lines.size(); ++i)
      if (lines[i].text.rfind(prefix, 0) == 0) {
        lineMark_ = i + 1;
        return static_cast<long>(i);
      }
    return -1;
  }
  // Host lines after the mark that start with "req 12", "cmd", "box" or "beep".
  std::vector<std::string> Messages() {
    std::vector<std::string> out;
    for (size_t i = lineMark_; i < lines.size(); ++i) out.push_back(lines[i].text);
    lineMark_ = lines.size();
    return out;
  }

  // The first frame after the mark whose line 2 is text right-justified to 16.
  const Frame* WaitLine2(const std::string& text, int ms) {
    const std::string want = text.size() < 16 ? std::string(16 - text.size(), ' ') + text : text;
    const Frame* found = nullptr;
    PumpUntil([&] {
      for (size_t i = frameMark_; i < frames.size(); ++i)
        if (frames[i].line2 == want) { frameMark_ = i + 1; found = &frames[i]; return true; }
      return false;
    }, ms);
    return found;
  }
  void MarkFrames() { frameMark_ = frames.size(); }

  std::string Log() const {
    std::string text = "host said:\n";
    for (const Line& l : lines) text += "  " + std::to_string(l.ms) + " " + l.text + "\n";
    text += "frames:\n";
    const size_t from = frames.size() > 12 ? frames.size() - 12 : 0;
    for (size_t i = from; i < frames.size(); ++i)
      text += "  " + std::to_string(frames[i].ms) + " [" + frames[i].line1 + "][" + frames[i].line2 + "]\n";
    return text;
  }

  std::vector<Line> lines;
  std::vector<Frame> frames;

 private:
  static void Drain() {
    char buf[4096];
    while (read(Shared->master, buf, sizeof buf) > 0) {}
  }

  void Poll(int ms) {
    pollfd fds[2] = {{fromHost_, POLLIN, 0}, {Shared->master, POLLIN, 0}};
    const int n = poll(fds, 2, ms);
    char buf[4096];
    if (n > 0 && (fds[0].revents & POLLIN)) {
      const ssize_t got = read(fromHost_, buf, sizeof buf);
      if (got > 0) hostText_.append(buf, static_cast<size_t>(got));
      size_t eol;
      while ((eol = hostText_.find('\n')) != std::string::npos) {
        std::string text = hostText_.substr(0, eol);
        if (!text.empty() && text.back() == '\r') text.pop_back();
        lines.push_back({Now(), text});
        hostText_.erase(0, eol + 1);
      }
    }
    if (n > 0 && (fds[1].revents & POLLIN)) {
      const ssize_t got = read(Shared->master, buf, sizeof buf);
      if (got > 0) {
        if (ptyText_.empty()) ptyStart_ = Now();
        ptyText_.append(buf, static_cast<size_t>(got));
      }
    }
    ParseFrames(n == 0);
  }

  // A frame ends where the next begins, or when the line goes quiet after a
  // full line 2 (the frame has no terminator of its own).
  void ParseFrames(bool quiet) {
    for (;;) {
      const size_t begin = ptyText_.find('\x80');
      if (begin == std::string::npos) { ptyText_.clear(); return; }
      ptyText_.erase(0, begin);
      const size_t split = ptyText_.find('\xA8');
      if (split == std::string::npos) return;
      size_t end = ptyText_.find('\x80', split);
      if (end == std::string::npos) {
        if (!(quiet && ptyText_.size() - split - 1 >= 16)) return;
        end = ptyText_.size();
      }
      frames.push_back({ptyStart_, ptyText_.substr(1, split - 1), ptyText_.substr(split + 1, end - split - 1)});
      ptyText_.erase(0, end);
      ptyStart_ = Now();
    }
  }

  std::chrono::steady_clock::time_point start_;
  pid_t pid_ = -1;
  int toHost_ = -1, fromHost_ = -1;
  std::string hostText_, ptyText_;
  long ptyStart_ = 0;
  size_t lineMark_ = 0, frameMark_ = 0;
};

class PluginUnderWine : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    Shared = new WineSetup;
    if (access(kWine, X_OK) != 0) { Shared->error = "no wine64"; return; }
    if (access(DllPath().c_str(), R_OK) != 0 || access(HostPath().c_str(), R_OK) != 0) {
      Shared->error = "missing " + DllPath() + " or " + HostPath();
      return;
    }
    char dir[] = "/tmp/norvelo-wine-XXXXXX";
    if (mkdtemp(dir) == nullptr) { Shared->error = "mkdtemp"; return; }
    Shared->prefix = dir;
    setenv("WINEPREFIX", dir, 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    if (RunToEnd({kWine, "wineboot", "-i"}, 180000) != 0) { Shared->error = "wineboot failed"; return; }

    Shared->master = posix_openpt(O_RDWR | O_NOCTTY);
    if (Shared->master < 0 || grantpt(Shared->master) != 0 || unlockpt(Shared->master) != 0) {
      Shared->error = "no pseudo-terminal";
      return;
    }
    const std::string slave = ptsname(Shared->master);
    // Our own slave descriptor keeps the line raw and open between hosts.
    Shared->slave = open(slave.c_str(), O_RDWR | O_NOCTTY);
    termios raw;
    tcgetattr(Shared->slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(Shared->slave, TCSANOW, &raw);
    fcntl(Shared->master, F_SETFL, O_NONBLOCK);

    const fs::path link = fs::path(dir) / "dosdevices" / "com5";
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(slave, link, ec);
    const std::string reg = std::string(dir) + "/setup.reg";
    std::ofstream(reg) << "REGEDIT4\n\n"
                       << "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]\n"
                       << "\"Debugger\"=\"\"\n\n"
                       << "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n"
                       << "\"COM5\"=\"" << slave << "\"\n";
    if (RunToEnd({kWine, "reg", "import", WindowsPath(reg)}, 60000) != 0) Shared->error = "reg import failed";
  }

  static void TearDownTestSuite() {
    if (!Shared->prefix.empty()) {
      RunToEnd({"/usr/bin/wineserver", "-k"}, 30000);
      std::error_code ec;
      fs::remove_all(Shared->prefix, ec);
    }
    if (Shared->master >= 0) close(Shared->master);
    if (Shared->slave >= 0) close(Shared->slave);
    delete Shared;
    Shared = nullptr;
  }

 protected:
  void SetUp() override {
    if (Shared->error == "no wine64") GTEST_SKIP() << "wine64 is not installed";
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
  for (const Step& step : steps) {
    s.Messages();
    s.MarkFrames();
    s.Key(step.key);
    EXPECT_NE(s.WaitLine2(step.text, 2000), nullptr) << int(step.key) << s.Log();
    s.Pump(250);
    EXPECT_EQ(s.Messages(), step.sent) << int(step.key) << s.Log();
  }
  s.Key(12);  // mute, then unmute: volume back, line 2 keeps its text
  s.Pump(300);
  s.Messages();
  s.Key(12);
  s.Pump(400);
  EXPECT_EQ(s.Messages(), (std::vector<std::string>{"req 122 200"}));
  EXPECT_EQ(s.frames.back().line2, "            Mute");

  s.Send("len 34");
  s.Pump(50);
  s.Key(30);
  EXPECT_NE(s.WaitLine2("Errore seek", 2000), nullptr) << s.Log();
  s.Pump(250);
  EXPECT_EQ(s.Messages(), (std::vector<std::string>{"req 124"}));
  s.Send("pos 4");
  s.Pump(50);
  s.Key(40);  // no action
  s.Pump(300);
  s.Key(26);
  s.Pump(400);
  EXPECT_EQ(s.Messages(), (std::vector<std::string>{"req 124"})) << s.Log();
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
  ASSERT_TRUE(s.WaitLine("dialog items=COM1,COM2,COM3,COM4 sel=-", 5000)) << s.Log();
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

}  // namespace
