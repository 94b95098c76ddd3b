// The bridge on a pseudo-terminal, with Debian's own irw and lcdproc and with
// plain sockets as clients.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

using e2e::Session;
using e2e::SessionOptions;
using SteadyClock = std::chrono::steady_clock;

using e2e::kJunk;
using e2e::kPlay;
using e2e::kStop;

SessionOptions BridgeOptions() {
  SessionOptions options;
  options.program = NORVELO_BRIDGE_BIN;
  return options;
}

// One end of a socket to the bridge, and everything read from it.
class Peer {
 public:
  explicit Peer(int fd) : fd_(fd) {
    if (fd_ >= 0) SetNonBlocking(fd_);
  }
  ~Peer() {
    if (fd_ >= 0) close(fd_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool ok() const { return fd_ >= 0; }
  void Send(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EAGAIN) {
        pollfd p = {fd_, POLLOUT, 0};
        poll(&p, 1, 100);
      } else {
        return;
      }
    }
  }
  // Reads what is there; false once the bridge closed the connection.
  bool Read() {
    char buffer[65536];
    for (;;) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n > 0) {
        got.append(buffer, static_cast<size_t>(n));
        continue;
      }
      if (n == 0) closed = true;
      return !closed;
    }
  }
  size_t Count(const std::string& text) const {
    size_t count = 0;
    for (size_t at = got.find(text); at != std::string::npos; at = got.find(text, at + 1)) ++count;
    return count;
  }
  std::string got;
  bool closed = false;

 private:
  int fd_;
};

int ConnectUnix(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int ConnectTcp(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A client program of Debian's, its output read through a pipe; ended at the end.
class Program {
 public:
  explicit Program(const std::vector<std::string>& args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDERR_FILENO);
      execvp(args[0].c_str(), ArgvOf(args).data());
      _exit(127);
    }
    close(out[1]);
    output_ = std::make_unique<Peer>(out[0]);
  }
  ~Program() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Peer& output() { return *output_; }
  // Its exit status once it ended within timeoutMs, its output read; else -1.
  int WaitExit(int timeoutMs = e2e::kWaitMs) {
    int status = 0;
    const bool ended = ReapWithin(pid_, timeoutMs, &status);
    output_->Read();
    if (!ended) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  std::unique_ptr<Peer> output_;
};

// The bridge on the session's line, its sockets in the session's folder and
// its display port taken from the free ones.
class Bridge {
 public:
  explicit Bridge(SessionOptions options = BridgeOptions())
      : s(std::move(options)), socket(s.dir().Join("lircd")) {}

  bool Start(const std::string& line = "") {
    s.Start({"-s", line.empty() ? s.slave() : line, "-l", socket, "-p", "0"});
    return s.WaitFor([this] { return Port() > 0; });
  }
  int Port() const {
    const std::string mark = "display on 127.0.0.1:";
    const size_t at = s.Trace().find(mark);
    return at == std::string::npos ? 0 : atoi(s.Trace().c_str() + at + mark.size());
  }
  // Waits, keeping the trace and the line read, until the peers' reads say done.
  bool WaitFor(const std::vector<Peer*>& peers, const std::function<bool()>& done,
               int timeoutMs = e2e::kWaitMs) {
    return s.WaitFor(
        [&] {
          for (Peer* peer : peers) peer->Read();
          return done();
        },
        timeoutMs);
  }
  bool WaitForText(Peer& peer, const std::string& text, int timeoutMs = e2e::kWaitMs) {
    return WaitFor({&peer}, [&] { return peer.got.find(text) != std::string::npos; }, timeoutMs);
  }
  bool WaitForLine1(const std::string& text, size_t after = 0) {
    return s.WaitForFrame([&](const e2e::DisplayFrame& f) { return f.line1 == Padded(text); }, after);
  }
  static std::string Padded(std::string text) {
    text.resize(16, ' ');
    return text;
  }
  // A display client that has said hello and shows one string on line 1.
  void ShowString(Peer& lcd, const std::string& screen, const std::string& text,
                  const std::string& priority = "info") {
    lcd.Send("hello\nscreen_add " + screen + "\nscreen_set " + screen + " -priority " + priority +
             "\nwidget_add " + screen + " w string\nwidget_set " + screen + " w 1 1 {" + text + "}\n");
  }

  Session s;
  std::string socket;
};

std::string Line(uint16_t code, int repeat, const std::string& name) {
  char text[80];
  snprintf(text, sizeof text, "%016x %02x %s norvelo\n", code, repeat, name.c_str());
  return text;
}

TEST(BridgeClients, IrwPrintsEveryFrameWithItsRepeatCount) {
  Bridge b;
  ASSERT_TRUE(b.Start());
  Program irw({"irw", b.socket});
  ASSERT_TRUE(b.s.WaitForTrace("Key client 1 connected"));
  for (bool toggle : {false, false, false, true}) {
    b.s.SendKey(kPlay, toggle);
    SleepMs(100);
  }
  b.s.SendKey(kJunk);
  const std::string expected = Line(kPlay, 0, "KEY_PLAY") + Line(kPlay, 1, "KEY_PLAY") +
                               Line(kPlay, 2, "KEY_PLAY") + Line(kPlay, 0, "KEY_PLAY") +
                               Line(kJunk, 0, "KEY_UNKNOWN_2727");
  EXPECT_TRUE(b.WaitForText(irw.output(), expected)) << irw.output().got;
}

// irsend sends "LIST  " for LIST "" "" and waits for exactly that line back.
TEST(BridgeClients, IrsendListsTheRemoteAndItsKeys) {
  Bridge b;
  ASSERT_TRUE(b.Start());
  Program remotes({"irsend", "-d", b.socket, "LIST", "", ""});
  EXPECT_EQ(remotes.WaitExit(), 0);
  EXPECT_EQ(remotes.output().got, "norvelo\n\n");
  Program keys({"irsend", "-d", b.socket, "LIST", "norvelo", ""});
  EXPECT_EQ(keys.WaitExit(), 0);
  EXPECT_NE(keys.output().got.find("000000000000350c KEY_EXIT\n0000000000003535 KEY_PLAY\n"),
            std::string::npos)
      << keys.output().got;
}

TEST(BridgeClients, LcdprocScreensReachTheLine) {
  Bridge b;
  ASSERT_TRUE(b.Start());
  // Its own configuration left out: the CPU screen alone, in the foreground.
  const std::string config = b.s.dir().Write("lcdproc.conf", "");
  Program lcdproc({"lcdproc", "-f", "-c", config, "-s", "127.0.0.1", "-p",
                   std::to_string(b.Port()), "C"});
  EXPECT_TRUE(b.s.WaitForFrame(
      [](const e2e::DisplayFrame& f) { return f.line1.compare(0, 5, "CPU [") == 0; }))
      << b.s.Trace();
}

TEST(BridgeClients, PlainSocketsSpeakBothProtocols) {
  Bridge b;
  ASSERT_TRUE(b.Start());
  Peer keys(ConnectUnix(b.socket));
  keys.Send("VERSION\nLIST\n");
  EXPECT_TRUE(b.WaitForText(keys, "BEGIN\nVERSION\nSUCCESS\nDATA\n1\n"));
  EXPECT_TRUE(b.WaitForText(keys, "BEGIN\nLIST\nSUCCESS\nDATA\n1\nnorvelo\nEND\n"));

  Peer first(ConnectTcp(b.Port())), second(ConnectTcp(b.Port()));
  b.ShowString(first, "s", "Hello");
  EXPECT_TRUE(b.WaitForLine1("Hello"));
  b.ShowString(second, "top", "On top", "foreground");
  EXPECT_TRUE(b.WaitForLine1("On top"));
  EXPECT_TRUE(b.WaitForText(first, "ignore s\n"));

  // A key a display client holds goes to it and not to the key clients.
  first.Send("client_add_key -exclusively KEY_PLAY\n");
  EXPECT_TRUE(b.WaitFor({&first}, [&] { return first.Count("success\n") == 5; }));
  b.s.SendKey(kPlay);
  b.s.SendKey(kStop, true);
  EXPECT_TRUE(b.WaitForText(first, "key KEY_PLAY\n"));
  EXPECT_TRUE(b.WaitForText(keys, "KEY_STOP norvelo\n"));
  EXPECT_EQ(keys.Count("KEY_PLAY"), 0u);

  // Windows-1252 text: the euro sign and the diaeresis are the unit's markers.
  second.Send("widget_set top w 1 1 {Caf\xE9 \xA8 \x80 name}\n");
  EXPECT_TRUE(b.WaitForLine1("Caf\xE9   E name"));
}

TEST(BridgeClients, AClientThatStopsReadingHoldsUpNobody) {
  Bridge b;
  ASSERT_TRUE(b.Start());
  Peer stuck(ConnectUnix(b.socket)), reader(ConnectUnix(b.socket));
  ASSERT_TRUE(b.s.WaitForTrace("Key client 2 connected"));
  // Far more than the stuck client's socket and queue take.
  const std::string burst = e2e::FrameBytes(kPlay) + e2e::FrameBytes(kPlay, true);
  for (int chunk = 0; chunk < 40; ++chunk) {
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += burst;
    b.s.SendBytes(bytes);
    b.WaitFor({&reader}, [] { return false; }, 20);
  }
  EXPECT_TRUE(b.WaitFor({&reader}, [&] { return reader.Count("KEY_PLAY") == 8000; }))
      << reader.Count("KEY_PLAY");
  EXPECT_TRUE(b.s.WaitForTrace("Key client 1 dropped: it does not read"));
  const auto sent = SteadyClock::now();
  b.s.SendKey(kStop);
  ASSERT_TRUE(b.WaitForText(reader, "KEY_STOP"));
  EXPECT_LT(SteadyClock::now() - sent, std::chrono::milliseconds(500));
}

// Connections that hold a place and do nothing (anyone may open them) give
// it up to a client that comes to use it, and say so in a line or two.
TEST(BridgeClients, IdleConnectionsLockNobodyOut) {
  Bridge b;
  ASSERT_TRUE(b.Start());
  std::vector<std::unique_ptr<Peer>> idle;
  for (size_t i = 0; i < 32; ++i) {
    idle.push_back(std::make_unique<Peer>(ConnectUnix(b.socket)));
    idle.push_back(std::make_unique<Peer>(ConnectTcp(b.Port())));
  }
  ASSERT_TRUE(b.s.WaitForTrace("Display client 64 connected"));
  Program irw({"irw", b.socket});
  Peer lcd(ConnectTcp(b.Port()));
  lcd.Send("hello\n");
  // Both wait out the idle ones' grace, a few seconds.
  EXPECT_TRUE(b.WaitForText(lcd, "connect LCDproc", 2 * e2e::kWaitMs));
  const auto keyClients = [&] {
    size_t count = 0;
    for (const std::string& line : b.s.TraceLines())
      count += line.compare(0, 11, "Key client ") == 0 && line.find(" connected") != std::string::npos;
    return count;
  };
  ASSERT_TRUE(b.s.WaitFor([&] { return keyClients() == 33; }, 2 * e2e::kWaitMs));
  b.s.SendKey(kPlay);
  EXPECT_TRUE(b.WaitForText(irw.output(), "KEY_PLAY norvelo\n"));
  size_t said = 0;
  for (const std::string& line : b.s.TraceLines())
    said += line.find("refused") != std::string::npos || line.find("dropped") != std::string::npos;
  EXPECT_LE(said, 4u) << b.s.Trace();
}

// Out of descriptors with connections waiting: no busy loop, and the
// listening sockets stay, serving again once descriptors are free.
TEST(BridgeProcess, OutOfDescriptorsItWaitsWithoutSpinning) {
  SessionOptions options = BridgeOptions();
  options.descriptorLimit = 30;
  Bridge b(options);
  ASSERT_TRUE(b.Start());
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < 40; ++i) peers.push_back(std::make_unique<Peer>(ConnectUnix(b.socket)));
  ASSERT_TRUE(b.s.WaitForTrace("Key client not accepted: Too many open files"));
  const double cpu = b.s.CpuSeconds();
  b.s.Pump(1000);
  EXPECT_LT(b.s.CpuSeconds() - cpu, 0.2);
  peers.clear();
  Peer keys(ConnectUnix(b.socket));
  keys.Send("VERSION\n");
  EXPECT_TRUE(b.WaitForText(keys, "SUCCESS", 3 * e2e::kWaitMs));
}

TEST(BridgeProcess, EndsOnSigtermWithItsSocketRemoved) {
  Bridge b;
  ASSERT_TRUE(b.Start());
  Peer keys(ConnectUnix(b.socket)), lcd(ConnectTcp(b.Port()));
  b.s.Signal(SIGTERM);
  EXPECT_EQ(b.s.WaitExit(), -1);
  EXPECT_EQ(b.s.ExitSignal(), SIGTERM);
  EXPECT_EQ(b.s.CountTrace("SIGTERM received, quitting"), 1u);
  struct stat info;
  EXPECT_NE(lstat(b.socket.c_str(), &info), 0);
  EXPECT_TRUE(b.s.NothingLeftWithin(2000)) << e2e::LeftoverChildren();
}

TEST(BridgeProcess, ALineThatIsNoTerminalIsRefused) {
  Bridge b;
  b.s.Start({"-s", "/dev/null", "-l", b.socket, "-p", "0"});
  EXPECT_EQ(b.s.WaitExit(), 1);
  EXPECT_EQ(b.s.CountTrace("Unable to use /dev/null: a device that is not a terminal"), 1u)
      << b.s.Trace();
}

TEST(BridgeProcess, TheLineUnpluggedAndBackCarriesOn) {
  Bridge b;
  const std::string link = b.s.LinkPath();
  ASSERT_TRUE(b.Start(link));
  Peer keys(ConnectUnix(b.socket));
  ASSERT_TRUE(b.WaitForLine1("norvelo-bridge"));
  b.s.HangUp();
  ASSERT_TRUE(b.s.WaitForTrace("Serial line lost: " + link));
  const size_t before = b.s.Frames().size();
  b.s.Reconnect();
  ASSERT_TRUE(b.s.WaitForTrace("Serial line back: " + link));
  // The unit came back blank: it is given the display again.
  EXPECT_TRUE(b.WaitForLine1("norvelo-bridge", before));
  b.s.SendKey(kPlay);
  EXPECT_TRUE(b.WaitForText(keys, "KEY_PLAY norvelo\n"));
}

// One program per line, whichever came first: a second one is refused at
// once, naming the line, and the first one keeps every key.
void ExpectSecondProgramsRefused(const std::string& line, pid_t holder, const std::string& dir) {
  const std::vector<std::vector<std::string>> seconds = {
      {NORVELO_BIN, "-s", line, "a.mp3"},
      {NORVELO_BRIDGE_BIN, "-s", line, "-l", dir + "/second-lircd", "-p", "0"}};
  for (const std::vector<std::string>& args : seconds) {
    Program second(args);
    EXPECT_EQ(second.WaitExit(), 1) << args[0];
    EXPECT_EQ(second.output().got, "Unable to use " + line + ": in use by another program (pid " +
                                       std::to_string(holder) + ")\n\n");
  }
}

TEST(OneProgramPerLine, ABridgeKeepsItsLine) {
  Bridge b;
  ASSERT_TRUE(b.Start());
  Peer keys(ConnectUnix(b.socket));
  ASSERT_TRUE(b.s.WaitForTrace("Key client 1 connected"));
  ExpectSecondProgramsRefused(b.s.slave(), b.s.pid(), b.s.dir().path());
  for (int i = 0; i < 20; ++i) b.s.SendKey(kPlay, i % 2 == 1);
  EXPECT_TRUE(b.WaitFor({&keys}, [&] { return keys.Count("KEY_PLAY") == 20; })) << keys.got;
}

TEST(OneProgramPerLine, APlayerKeepsItsLine) {
  Session player;
  ASSERT_TRUE(player.StartPlaying({"a.mp3"}));
  ExpectSecondProgramsRefused(player.slave(), player.pid(), player.dir().path());
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(player.Press(kJunk)) << i;
}

// A line that went away and came back held by another program stays that
// program's: the player (its receiver and its display alike) waits until the
// other lets it go.
TEST(OneProgramPerLine, AReopenLeavesAnotherProgramsLineAlone) {
  Session player;
  const std::string link = player.LinkPath();
  player.Start({"-s", link, "a.mp3"});
  ASSERT_TRUE(player.WaitReady());
  player.HangUp();
  ASSERT_TRUE(player.WaitForTrace("Serial line lost: " + link));

  std::string other;
  const int master = OpenPtyMaster(other);
  ASSERT_GE(master, 0);
  SetNonBlocking(master);
  const std::string socket = player.dir().Join("lircd");
  auto bridge = std::make_unique<Program>(
      std::vector<std::string>{NORVELO_BRIDGE_BIN, "-s", other, "-l", socket, "-p", "0"});
  ASSERT_TRUE(player.WaitFor([&] { return access(socket.c_str(), F_OK) == 0; }));
  const std::string fresh = link + ".new";
  symlink(other.c_str(), fresh.c_str());
  rename(fresh.c_str(), link.c_str());

  Peer keys(ConnectUnix(socket));
  ASSERT_TRUE(player.WaitFor([&] {
    bridge->output().Read();
    return bridge->output().got.find("Key client 1 connected") != std::string::npos;
  }));
  for (int i = 0; i < 20; ++i) {
    WriteAll(master, e2e::FrameBytes(kPlay, i % 2 == 1));
    player.Pump(100);  // several reopen tries of the player's meanwhile
  }
  EXPECT_TRUE(player.WaitFor([&] { return keys.Read() && keys.Count("KEY_PLAY") == 20; }))
      << keys.got;
  EXPECT_EQ(player.CountTrace("Serial line back: " + link), 0u);
  EXPECT_EQ(player.CountTrace("IR Command: 3535"), 0u);

  bridge.reset();
  ASSERT_TRUE(player.WaitForTrace("Serial line back: " + link));
  const std::string junk = e2e::FrameBytes(kJunk);
  EXPECT_TRUE(player.WaitFor([&] {
    WriteAll(master, junk);
    return player.CountTrace("IR Command: 2727") > 0;
  }));
  close(master);
}

TEST(BridgeProcess, BadInputGetsAnswersOrADropNeverACrashOrASpin) {
  Bridge b;
  ASSERT_TRUE(b.Start());
  Peer lcd(ConnectTcp(b.Port())), keys(ConnectUnix(b.socket));
  const std::string huge(1 << 20, 'x');
  lcd.Send("hello\n" + huge + "\n\x01\xff garbage\n{unclosed\nscreen_add\nwidget_set a b c\nnoop\n");
  EXPECT_TRUE(b.WaitForText(lcd, "success\n"));
  EXPECT_EQ(lcd.Count("huh? "), 5u) << lcd.got;
  EXPECT_EQ(lcd.Count("huh? line too long\n"), 1u);
  keys.Send(huge);
  EXPECT_TRUE(b.WaitFor({&keys}, [&] { return keys.closed; }));
  // A half command and gone: the others are served as before.
  {
    Peer half(ConnectTcp(b.Port()));
    half.Send("hello\nscreen_add ha");
  }
  Peer again(ConnectUnix(b.socket));
  again.Send("VERSION\n");
  EXPECT_TRUE(b.WaitForText(again, "SUCCESS"));
  const double cpu = b.s.CpuSeconds();
  b.s.Pump(1000);
  EXPECT_LT(b.s.CpuSeconds() - cpu, 0.2);
  EXPECT_TRUE(b.s.Running());
}

}  // namespace
