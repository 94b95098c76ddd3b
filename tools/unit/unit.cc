// The platform side of norvelo-unit: the pseudo-terminal, the program it
// starts, the keyboard and the screen, around the logic of the other files.
#include "tools/unit/unit.h"

#include <errno.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>

#include "posix/child.h"
#include "posix/keymap.h"
#include "posix/trace.h"
#include "link/display_reader.h"
#include "link/link.h"
#include "posix/posix.h"
#include "posix/signals.h"
#include "posix/unique_fd.h"
#include "tools/unit/options.h"
#include "tools/unit/remote.h"
#include "tools/unit/screen.h"
#include "tools/unit/script.h"

namespace {

// The emulator keeps 32-bit millisecond ticks, as the hosts do.
uint32_t Tick() { return static_cast<uint32_t>(MonotonicMs()); }

// A frame cut in pieces is shown once the line has been quiet this long.
constexpr uint32_t kQuietMs = 30;
// Grace for the program's processes between SIGTERM and SIGKILL.
constexpr uint32_t kStopGraceMs = 2000;
constexpr size_t kPaneRows = 8;

struct Pty {
  UniqueFd master;
  UniqueFd slave;  // held open so the master never sees a hang-up between programs
  std::string path;
};

bool OpenPty(Pty& pty, std::string& error) {
  pty.master.Reset(OpenPtyMaster(pty.path));
  if (!pty.master.Valid()) {
    error = std::string("cannot open a pseudo-terminal: ") + strerror(errno);
    return false;
  }
  pty.slave.Reset(open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!pty.slave.Valid()) {
    error = "cannot open " + pty.path + ": " + strerror(errno);
    return false;
  }
  MakeRaw(pty.master.Get());
  MakeRaw(pty.slave.Get());
  SetNonBlocking(pty.master.Get());
  return true;
}

// The keyboard in raw mode and the alternate screen, undone on every way out.
class TerminalSession {
 public:
  bool Begin() {
    if (tcgetattr(STDIN_FILENO, &saved_) != 0) return false;
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return false;
    active_ = true;
    WriteAll(STDOUT_FILENO, "\x1b[?1049h\x1b[?25l\x1b[2J");
    return true;
  }
  void End() {
    if (!active_) return;
    active_ = false;
    WriteAll(STDOUT_FILENO, "\x1b[?25h\x1b[?1049l");
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  ~TerminalSession() { End(); }

 private:
  termios saved_{};
  bool active_ = false;
};

// With -b the host's bytes wait in the pseudo-terminal and come in one at a
// time, each a character time after the one before when they were queued
// back to back, as on the real line: the byte under way and its run.
struct LineByte {
  bool busy = false;
  uint8_t byte = 0;
  uint64_t runStartUs = 0;
  size_t runBytes = 0;
  uint64_t arriveUs = 0;
};

struct Child {
  ChildProcess process;
  UniqueFd input;   // its standard input: Enter goes here
  UniqueFd output;  // its standard output and error, interactive mode only
  bool running = false;
  int status = 0;
};

// The program gets a process group of its own, so that everything it starts
// can be stopped together and a Ctrl-C at the terminal reaches only us.
bool StartChild(const std::vector<std::string>& args, bool capture, Child& child, std::string& error) {
  int in[2], out[2] = {-1, -1};
  if (!MakePipe(in) || (capture && !MakePipe(out))) {
    error = std::string("cannot create pipes: ") + strerror(errno);
    return false;
  }
  ChildSetup setup;
  setup.in = in[0];
  setup.out = capture ? out[1] : STDERR_FILENO;
  setup.err = capture ? out[1] : -1;
  setup.ownGroup = true;
  const pid_t pid = child.process.Start(setup);
  if (pid < 0) {
    error = std::string("cannot fork: ") + strerror(errno);
    return false;
  }
  if (pid == 0) ExecOrExit(args, "norvelo-unit");
  close(in[0]);
  child.running = true;
  child.input.Reset(in[1]);
  SetNonBlocking(in[1]);
  if (capture) {
    close(out[1]);
    child.output.Reset(out[0]);
    SetNonBlocking(out[0]);
  }
  return true;
}

// Collects every ended process: the program, and what it started and left
// behind (this process is their subreaper).
void Reap(Child& child) {
  for (;;) {
    int status = 0;
    const pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid <= 0) return;
    if (pid == child.process.pid()) {
      child.running = false;
      child.status = status;
    }
  }
}

// Ends the program's whole process group: SIGTERM, then SIGKILL after a grace.
void StopGroup(Child& child) {
  if (child.process.pid() <= 0) return;
  Reap(child);
  child.process.StopWithin(kStopGraceMs);
  Reap(child);
}

int ExitStatusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

std::string KeyDescription(int slot, uint16_t code, const IrFrame& frame) {
  char text[96];
  snprintf(text, sizeof text, "%s   code %04X   IrFrame %02X %02X   toggle %d",
           slot == KeyNone ? "(raw code)" : KeySlotName(slot), code, frame.byte0, frame.byte1,
           (frame.byte1 & kToggleBit) ? 1 : 0);
  return text;
}

bool TerminalTakesUtf8() {
  setlocale(LC_CTYPE, "");
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr && strcmp(codeset, "UTF-8") == 0;
}

class Unit {
 public:
  Unit(const UnitOptions& options, const KeyMap& keys) : options_(options), keys_(keys), pane_(kPaneRows) {}

  int Run(const Script* script);

 private:
  bool Start(std::string& error);
  // Sends what the script has due; false when the run is over.
  bool StepScript(uint32_t now);
  int Timeout(uint32_t now) const;
  bool PollOnce(int timeout);
  void ReadOutput();
  int Finish();
  void ReadLine(uint32_t now);
  void ReadLineAtRate(uint32_t now);
  void Deliver(const uint8_t* bytes, size_t count, uint32_t now);
  void ShowFrame(const DisplayLines& lines, uint32_t now);
  void SendFrame(const IrFrame& frame, int slot, uint16_t code);
  void SendEnter();
  void OnTerminalEvent(const TermEvent& event, uint32_t now);
  void Draw(bool clear = false);
  bool interactive() const { return options_.script.empty(); }

  const UnitOptions& options_;
  KeyMap keys_;
  Pty pty_;
  Child child_;
  DisplayFrameReader reader_;
  LineByte line_;
  RemoteButtons remote_;
  TerminalKeys terminalKeys_;
  OutputPane pane_;
  ScreenModel screen_;
  TerminalSession terminal_;
  const Script* script_ = nullptr;
  size_t next_ = 0;
  bool lingering_ = false;
  uint32_t lingerUntil_ = 0;
  bool stoppedByUs_ = false;
  uint32_t start_ = 0;
  uint32_t lastByte_ = 0;
  bool leave_ = false;
  bool userLeft_ = false;  // Ctrl-C at the keyboard: not a failure
};

void Unit::ShowFrame(const DisplayLines& lines, uint32_t now) {
  if (interactive()) {
    screen_.anyFrame = true;
    screen_.lines = lines;
    Draw();
  } else {
    WriteAll(STDOUT_FILENO, FrameRecord((now - start_) / 1000.0, lines));
  }
}

void Unit::Deliver(const uint8_t* bytes, size_t count, uint32_t now) {
  lastByte_ = now;
  for (const DisplayLines& lines : reader_.Feed(bytes, count)) ShowFrame(lines, now);
}

void Unit::ReadLine(uint32_t now) {
  uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = read(pty_.master.Get(), buffer, sizeof buffer);
    if (n <= 0) return;
    Deliver(buffer, static_cast<size_t>(n), now);
  }
}

void Unit::ReadLineAtRate(uint32_t now) {
  const uint64_t nowUs = MonotonicUs();
  if (!line_.busy) {
    if (read(pty_.master.Get(), &line_.byte, 1) != 1) return;
    line_ = {true, line_.byte, nowUs, 1, nowUs + LineTimeUs(1)};
  }
  // A late pass takes every byte that has arrived meanwhile.
  while (nowUs >= line_.arriveUs) {
    Deliver(&line_.byte, 1, now);
    if (read(pty_.master.Get(), &line_.byte, 1) != 1) {
      line_.busy = false;
      return;
    }
    line_.arriveUs = line_.runStartUs + LineTimeUs(++line_.runBytes);
  }
}

void Unit::SendFrame(const IrFrame& frame, int slot, uint16_t code) {
  const char bytes[2] = {static_cast<char>(frame.byte0), static_cast<char>(frame.byte1)};
  // Both bytes in one write: the host takes a frame from one read.
  const bool sent = write(pty_.master.Get(), bytes, 2) == 2;
  screen_.lastKey = KeyDescription(slot, code, frame) + (sent ? "" : "   (not sent: the line is full)");
  if (!interactive())
    fprintf(stderr, "norvelo-unit: %.3f key %s\n", (Tick() - start_) / 1000.0, screen_.lastKey.c_str());
}

void Unit::SendEnter() {
  if (child_.input.Valid()) WriteAll(child_.input.Get(), "\n", 100);
}

void Unit::OnTerminalEvent(const TermEvent& event, uint32_t now) {
  switch (event.kind) {
    case TermEvent::kLeave:
      leave_ = userLeft_ = true;
      return;
    case TermEvent::kEnter: SendEnter(); return;
    case TermEvent::kRedraw: Draw(true); return;
    case TermEvent::kSlot: break;
  }
  const uint16_t code = keys_[event.slot];
  if (code == 0) {
    screen_.note = std::string("This remote has no key for ") + KeySlotName(event.slot) + ".";
    Draw();
    return;
  }
  IrFrame frame;
  if (remote_.KeyEvent(code, now, frame)) {
    screen_.note.clear();
    SendFrame(frame, event.slot, code);
    Draw();
  }
}

void Unit::Draw(bool clear) {
  if (!interactive()) return;
  if (child_.process.pid() > 0) screen_.output = pane_.Lines();
  WriteAll(STDOUT_FILENO, (clear ? "\x1b[2J" : "") + RenderScreen(screen_));
}

bool Unit::Start(std::string& error) {
  if (!OpenPty(pty_, error)) return false;
  if (!InstallSignalPipe({SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGWINCH})) {
    error = "cannot create the signal pipe";
    return false;
  }
  // Whatever the program starts and leaves behind comes back to us to reap.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  if (interactive()) {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
      error = "the keyboard mode needs a terminal; use -f for the scripted mode";
      return false;
    }
    screen_.device = pty_.path;
    screen_.legend = LegendItems(keys_);
    screen_.utf8 = TerminalTakesUtf8();
    if (!terminal_.Begin()) {
      error = "cannot set up the terminal";
      return false;
    }
  } else {
    fprintf(stderr, "norvelo-unit: control unit on %s\n", pty_.path.c_str());
  }
  if (!options_.program.empty()) {
    if (!StartChild(ProgramArguments(options_.program, pty_.path), interactive(), child_, error))
      return false;
    screen_.program = options_.program[0] + " (pid " + std::to_string(child_.process.pid()) + ")";
  }
  Draw(true);
  start_ = Tick();
  return true;
}

bool Unit::StepScript(uint32_t now) {
  if (script_ == nullptr) return true;
  while (next_ < script_->events.size() && script_->events[next_].atMs <= now - start_) {
    const ScriptEvent& event = script_->events[next_++];
    if (event.kind == ScriptEvent::kEnter) SendEnter();
    else SendFrame(FrameForEvent(event, remote_), event.slot, event.code);
  }
  if (next_ < script_->events.size() || now - start_ < script_->endMs) return true;
  if (child_.process.pid() <= 0) return false;
  if (!lingering_) {
    lingering_ = true;
    lingerUntil_ = now + static_cast<uint32_t>(options_.lingerSeconds) * 1000u;
  }
  if (child_.running && static_cast<int32_t>(now - lingerUntil_) >= 0) {
    fprintf(stderr, "norvelo-unit: %s still runs %d s after the script; stopping it\n",
            options_.program[0].c_str(), options_.lingerSeconds);
    stoppedByUs_ = true;
    return false;
  }
  return true;
}

int Unit::Timeout(uint32_t now) const {
  int timeout = -1;
  auto atMost = [&](int64_t ms) {
    const int bounded = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(ms, 60000)));
    if (timeout < 0 || bounded < timeout) timeout = bounded;
  };
  if (reader_.Pending()) atMost(static_cast<int64_t>(kQuietMs) - (now - lastByte_));
  if (line_.busy) {
    const uint64_t nowUs = MonotonicUs();
    atMost(line_.arriveUs > nowUs ? static_cast<int64_t>((line_.arriveUs - nowUs + 999) / 1000) : 0);
  }
  if (script_ != nullptr) {
    if (next_ < script_->events.size())
      atMost(static_cast<int64_t>(script_->events[next_].atMs) - (now - start_));
    else if (!lingering_)
      atMost(static_cast<int64_t>(script_->endMs) - (now - start_));
    else
      atMost(static_cast<int32_t>(lingerUntil_ - now));
  }
  return timeout;
}

void Unit::ReadOutput() {
  char text[4096];
  const ssize_t n = read(child_.output.Get(), text, sizeof text);
  if (n > 0) pane_.Add(text, static_cast<size_t>(n));
  else if (n == 0) child_.output.Reset();
  Draw();
}

bool Unit::PollOnce(int timeout) {
  pollfd fds[4];
  int count = 0;
  // A byte under way: the rest waits in the pseudo-terminal until it is in.
  fds[count++] = {pty_.master.Get(), static_cast<short>(line_.busy ? 0 : POLLIN), 0};
  fds[count++] = {SignalPipeFd(), POLLIN, 0};
  const int keyboard = interactive() ? count : -1;
  if (keyboard >= 0) fds[count++] = {STDIN_FILENO, POLLIN, 0};
  const int output = child_.output.Valid() ? count : -1;
  if (output >= 0) fds[count++] = {child_.output.Get(), POLLIN, 0};
  if (poll(fds, static_cast<nfds_t>(count), timeout) < 0 && errno != EINTR) return false;
  const uint32_t now = Tick();

  if (options_.realRate) ReadLineAtRate(now);
  else if (fds[0].revents & POLLIN) ReadLine(now);
  DisplayLines lines;
  if (reader_.Pending() && now - lastByte_ >= kQuietMs && reader_.Flush(lines)) ShowFrame(lines, now);
  if (fds[1].revents & POLLIN) {
    while (const int sig = TakeSignal()) {
      if (sig == SIGCHLD) Reap(child_);
      else if (sig == SIGWINCH) Draw(true);
      else leave_ = true;
    }
  }
  if (keyboard >= 0 && (fds[keyboard].revents & (POLLIN | POLLHUP))) {
    uint8_t keys[64];
    const ssize_t n = read(STDIN_FILENO, keys, sizeof keys);
    if (n <= 0) leave_ = true;
    else terminalKeys_.Feed(keys, static_cast<size_t>(n), [&](const TermEvent& e) { OnTerminalEvent(e, now); });
  }
  if (output >= 0 && (fds[output].revents & (POLLIN | POLLHUP))) ReadOutput();
  return true;
}

int Unit::Finish() {
  // The program's last frame may still be on its way; what waits comes in at once.
  if (line_.busy) Deliver(&line_.byte, 1, Tick());
  line_.busy = false;
  ReadLine(Tick());
  DisplayLines lines;
  if (reader_.Flush(lines)) ShowFrame(lines, Tick());
  StopGroup(child_);
  while (child_.output.Valid()) {
    char text[4096];
    const ssize_t n = read(child_.output.Get(), text, sizeof text);
    if (n <= 0) break;
    pane_.Add(text, static_cast<size_t>(n));
  }
  terminal_.End();
  if (child_.process.pid() <= 0) return 0;
  const std::string& name = options_.program[0];
  if (interactive())
    for (const std::string& line : pane_.Lines()) fprintf(stderr, "  %s\n", line.c_str());
  if (userLeft_) {
    fprintf(stderr, "norvelo-unit: %s was stopped\n", name.c_str());
    return 0;
  }
  const int status = ExitStatusOf(child_.status);
  fprintf(stderr, "norvelo-unit: %s %s with status %d\n", name.c_str(),
          stoppedByUs_ ? "was stopped" : "ended", status);
  return status;
}

int Unit::Run(const Script* script) {
  script_ = script;
  std::string error;
  if (!Start(error)) {
    terminal_.End();
    fprintf(stderr, "norvelo-unit: %s\n", error.c_str());
    StopGroup(child_);
    return 1;
  }
  for (;;) {
    if (!StepScript(Tick())) break;
    if (child_.process.pid() > 0 && !child_.running) break;
    if (leave_) {
      stoppedByUs_ = true;
      break;
    }
    if (!PollOnce(Timeout(Tick()))) break;
  }
  return Finish();
}

}  // namespace

int RunUnit(const std::vector<std::string>& args) {
  UnitOptions options;
  std::string error;
  if (!ParseUnitOptions(args, options, error)) {
    fprintf(stderr, "norvelo-unit: %s\n%s", error.c_str(), kUnitUsage);
    return 2;
  }
  if (options.help) {
    fputs(kUnitUsage, stdout);
    return 0;
  }
  KeyMap keys = DefaultKeys();
  if (!options.mappings.empty()) {
    // The loader reports on standard output, which the scripted mode keeps for frames.
    std::string report;
    SetTraceCapture(&report);
    const int failed = LoadIRCodes(options.mappings, keys);
    SetTraceCapture(nullptr);
    if (!report.empty()) fprintf(stderr, "%s", report.c_str());
    if (failed) {
      fprintf(stderr, "norvelo-unit: cannot read the remote mappings file %s\n", options.mappings.c_str());
      return 2;
    }
  }
  Script script;
  if (!options.script.empty()) {
    if (options.script == "-") {
      script = ParseScript(std::cin, keys);
    } else {
      std::ifstream in(options.script);
      if (!in) {
        fprintf(stderr, "norvelo-unit: cannot read the script %s\n", options.script.c_str());
        return 2;
      }
      script = ParseScript(in, keys);
    }
    if (!script.error.empty()) {
      fprintf(stderr, "norvelo-unit: %s: %s\n", options.script.c_str(), script.error.c_str());
      return 2;
    }
  }
  Unit unit(options, keys);
  return unit.Run(options.script.empty() ? nullptr : &script);
}
