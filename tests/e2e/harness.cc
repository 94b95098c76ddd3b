#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "link/link.h"

namespace e2e {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr uid_t kNobody = 65534;

int MsSince(SteadyClock::time_point start) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count());
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', from)) {
    lines.push_back(text.substr(from, nl - from));
    from = nl + 1;
  }
  return lines;
}

std::string Hex4(uint16_t code) {
  char text[8];
  snprintf(text, sizeof text, "%04X", code);
  return text;
}

}  // namespace

std::string FrameBytes(uint16_t code, bool toggle) {
  const IrFrame frame = IrFrameForCode(code, toggle);
  return {static_cast<char>(frame.byte0), static_cast<char>(frame.byte1)};
}

void BecomeSubreaper() { prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); }

std::vector<pid_t> ChildrenOfThisProcess() {
  std::vector<pid_t> children;
  const pid_t self = getpid();
  DIR* proc = opendir("/proc");
  if (!proc) return children;
  while (dirent* entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(atoi(entry->d_name));
    if (pid <= 0) continue;
    ProcStat stat;
    if (ReadProcStat(pid, stat) && stat.parent == self) children.push_back(pid);
  }
  closedir(proc);
  return children;
}

std::string LeftoverChildren() {
  std::string text;
  for (pid_t pid : ChildrenOfThisProcess()) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::string command = ReadWholeFile(proc + "/cmdline");
    std::replace(command.begin(), command.end(), '\0', ' ');
    ProcStat stat;
    ReadProcStat(pid, stat);
    text += std::to_string(pid) + " [" + stat.state + "] " + command + "\n";
  }
  return text;
}

void Session::OpenLine() {
  master_ = OpenPtyMaster(slave_);
  if (master_ < 0) abort();
  SetNonBlocking(master_);
  // Held so the master never reports a hang-up while the player is not running.
  slaveHold_ = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

Session::Session(SessionOptions options) : options_(std::move(options)) {
  BecomeSubreaper();
  OpenLine();

  binDir_ = dir_.MakeDir("bin");
  logPath_ = dir_.Join("decoder.log");
  fifoPath_ = dir_.Join("decoder.fifo");
  dir_.Write("decoder.log", "");
  mkfifo(fifoPath_.c_str(), 0600);
  fifo_ = open(fifoPath_.c_str(), O_RDWR | O_CLOEXEC);
  clockPath_ = dir_.Join("clock");
  if (options_.setClock) SetClock(1000000000000ull);
  WriteWrapper();
}

Session::~Session() {
  if (Running()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  // Killing a shell hands its own children to us in turn, so go on until
  // nothing is left (bounded: a test must not hang here).
  for (int round = 0; round < 200; ++round) {
    const std::vector<pid_t> children = ChildrenOfThisProcess();
    if (children.empty()) break;
    for (pid_t child : children) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    SleepMs(5);
  }
  for (int fd : {master_, slaveHold_, outRead_, fifo_})
    if (fd >= 0) close(fd);
}

void Session::WriteWrapper() {
  const std::string target = binDir_ + "/mpg123";
  if (options_.decoder == Decoder::Missing) return;
  // mpv, for "-p mpv", with its null output: real time, no sound card.
  dir_.Write("bin/mpv", "#!/bin/sh\nexec /usr/bin/mpv --ao=null \"$@\"\n");
  chmod((binDir_ + "/mpv").c_str(), 0755);
  if (options_.decoder == Decoder::Fake) {
    symlink(FAKE_DECODER_BIN, target.c_str());
    return;
  }
  // The real decoder, with an output that needs no sound card, or with none.
  dir_.Write("bin/mpg123", options_.decoder == Decoder::Silent
                               ? "#!/bin/sh\nexec /usr/bin/mpg123 \"$@\"\n"
                               : "#!/bin/sh\nexec /usr/bin/mpg123 -o dummy \"$@\"\n");
  chmod(target.c_str(), 0755);
}

void Session::Start(const std::vector<std::string>& args) {
  if (options_.unprivileged) {
    chmod(dir_.path().c_str(), 0755);
    for (const std::string& path : {slave_, logPath_, fifoPath_}) chmod(path.c_str(), 0666);
  }
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) abort();
  pid_ = fork();
  if (pid_ == 0) {
    if (options_.unprivileged && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
      _exit(127);
    dup2(out[1], STDOUT_FILENO);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    if (options_.closedStdout) close(STDOUT_FILENO);
    const char* path = getenv("PATH");
    setenv("PATH",
           options_.decoder == Decoder::Missing
               ? binDir_.c_str()
               : (binDir_ + ":" + (path ? path : "/usr/bin:/bin")).c_str(),
           1);
    setenv("FAKE_DECODER_LOG", logPath_.c_str(), 1);
    setenv("FAKE_DECODER_FIFO", fifoPath_.c_str(), 1);
    setenv("FAKE_DECODER_READY", options_.ready.c_str(), 1);
    setenv("FAKE_DECODER_ON_LOAD", options_.onLoad.c_str(), 1);
    setenv("FAKE_DECODER_STUBBORN", options_.stubborn ? "1" : "0", 1);
    if (options_.setClock) {
      setenv("LD_PRELOAD", FAKE_CLOCK_LIB, 1);
      // A sanitized player wants its runtime first; the clock comes before it.
      const char* asan = getenv("ASAN_OPTIONS");
      setenv("ASAN_OPTIONS",
             (std::string(asan ? asan : "") + (asan && *asan ? ":" : "") +
              "verify_asan_link_order=0")
                 .c_str(),
             1);
      setenv("FAKE_CLOCK_FILE", clockPath_.c_str(), 1);
    }
    // The machine's own sound devices are not a test's to change: the player
    // finds no ALSA device unless the test's environment says otherwise.
    setenv("ALSA_CONFIG_PATH", "/dev/null", 1);
    for (const std::string& entry : options_.environment) {
      const size_t eq = entry.find('=');
      if (eq == std::string::npos)
        unsetenv(entry.c_str());
      else
        setenv(entry.substr(0, eq).c_str(), entry.c_str() + eq + 1, 1);
    }
    for (int i = 0; i < options_.extraDescriptors; ++i) open("/dev/null", O_RDONLY);
    if (options_.descriptorLimit > 0) {
      const rlimit limit = {static_cast<rlim_t>(options_.descriptorLimit),
                            static_cast<rlim_t>(options_.descriptorLimit)};
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (chdir(dir_.path().c_str()) != 0) _exit(127);
    const char* program = options_.program.empty() ? NORVELO_BIN : options_.program.c_str();
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    execv(program, ArgvOf(all).data());
    _exit(127);
  }
  close(out[1]);
  outRead_ = out[0];
  SetNonBlocking(outRead_);
}

void Session::StartOn(const std::vector<std::string>& list) {
  std::vector<std::string> args = {"-s", slave_};
  args.insert(args.end(), list.begin(), list.end());
  Start(args);
}

// The receiver waits in poll on the line: a key sent from now on is read.
bool Session::ReceiverArmed() {
  const pid_t receiver = ReceiverPid();
  if (receiver <= 0) return false;
  return ReadWholeFile("/proc/" + std::to_string(receiver) + "/wchan").find("poll") !=
         std::string::npos;
}

bool Session::WaitReady(int timeoutMs) {
  return WaitFor([this] { return !Frames().empty() && ReceiverArmed(); }, timeoutMs);
}

bool Session::StartPlaying(const std::vector<std::string>& list) {
  StartOn(list);
  return WaitReady() && WaitForCommand("LOAD " + list.front());
}

void Session::SetClock(uint64_t ms) {
  // Written whole into a new file and renamed, so a reader never sees half.
  const std::string next = clockPath_ + ".next";
  std::ofstream(next, std::ios::binary).write(reinterpret_cast<const char*>(&ms), sizeof ms);
  rename(next.c_str(), clockPath_.c_str());
}

// A player that stops reading holds a test up for an ordinary wait at most.
void Session::SendBytes(const std::string& bytes) { WriteAll(master_, bytes, kWaitMs); }

void Session::HangUp() {
  close(master_);
  master_ = -1;
}

void Session::SuspendLineOutput(bool suspend) { tcflow(slaveHold_, suspend ? TCOOFF : TCOON); }

void Session::CloseTrace() {
  Pump(0);
  close(outRead_);
  outRead_ = -1;
}

std::string Session::LinkPath() {
  if (link_.empty()) {
    link_ = dir_.Join("serial");
    symlink(slave_.c_str(), link_.c_str());
  }
  return link_;
}

void Session::Reconnect() {
  for (int* fd : {&master_, &slaveHold_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  OpenLine();
  const std::string fresh = link_ + ".new";
  symlink(slave_.c_str(), fresh.c_str());
  rename(fresh.c_str(), link_.c_str());
}

double Session::CpuSeconds() const {
  double total = 0;
  DIR* proc = opendir("/proc");
  if (!proc) return total;
  while (dirent* entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(atoi(entry->d_name));
    ProcStat stat;
    if (pid <= 0 || !ReadProcStat(pid, stat)) continue;
    const double own = stat.cpuSeconds;
    for (pid_t up = pid; up > 1 && ReadProcStat(up, stat); up = stat.parent)
      if (up == pid_) {
        total += own;
        break;
      }
  }
  closedir(proc);
  return total;
}

void Session::SendBurst(const std::vector<uint16_t>& codes) {
  std::string bytes;
  for (uint16_t code : codes) bytes += FrameBytes(code);
  SendBytes(bytes);
}

void Session::DecoderSays(const std::string& text) { WriteAll(fifo_, text, kWaitMs); }

bool Session::Press(uint16_t code, int timeoutMs) {
  const std::string line = "IR Command: " + Hex4(code);
  const size_t before = CountTrace(line);
  SendKey(code);
  return WaitFor([&] { return CountTrace(line) > before; }, timeoutMs);
}

bool Session::Sync(int timeoutMs) {
  // Twice: a command caused by a decoder line just before the first marker
  // may still be on its way to the decoder when that marker comes back.
  for (int round = 0; round < 2; ++round) {
    const std::string marker = "#sync " + std::to_string(++syncCount_);
    DecoderSays(marker + "\n");
    if (!WaitForTrace(marker, timeoutMs)) return false;
  }
  return true;
}

void Session::Pump(int ms) {
  const auto start = SteadyClock::now();
  for (;;) {
    pollfd fds[2] = {{outRead_, POLLIN, 0}, {master_, POLLIN, 0}};
    const int left = std::max(0, ms - MsSince(start));
    poll(fds, 2, left);
    char buffer[4096];
    for (;;) {
      const ssize_t n = outRead_ >= 0 ? read(outRead_, buffer, sizeof buffer) : -1;
      if (n > 0) {
        out_.append(buffer, static_cast<size_t>(n));
        continue;
      }
      if (n == 0) {
        close(outRead_);
        outRead_ = -1;
      }
      break;
    }
    while (master_ >= 0) {
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      display_.append(buffer, static_cast<size_t>(n));
      for (DisplayFrame& frame :
           reader_.Feed(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(n),
                        MsSince(begun_)))
        frames_.push_back(std::move(frame));
    }
    if (left == 0) return;
  }
}

bool Session::WaitFor(const std::function<bool()>& done, int timeoutMs) {
  const auto start = SteadyClock::now();
  for (;;) {
    Pump(0);
    if (done()) return true;
    const int left = timeoutMs - MsSince(start);
    if (left <= 0) return false;
    Pump(std::min(left, 10));
  }
}

bool Session::WaitForTrace(const std::string& text, int timeoutMs) {
  return WaitFor([&] { return CountTrace(text) > 0; }, timeoutMs);
}

bool Session::WaitForCommand(const std::string& line, int timeoutMs) {
  return WaitFor([&] { return CountCommand(line) > 0; }, timeoutMs);
}

bool Session::WaitForFrame(const std::function<bool(const DisplayFrame&)>& match, size_t after,
                           int timeoutMs) {
  return WaitFor(
      [&] {
        const std::vector<DisplayFrame> frames = Frames();
        for (size_t i = after; i < frames.size(); ++i)
          if (match(frames[i])) return true;
        return false;
      },
      timeoutMs);
}

bool Session::WaitForLine2(const std::string& line2, size_t after, int timeoutMs) {
  return WaitForFrame([&](const DisplayFrame& f) { return f.line2 == line2; }, after, timeoutMs);
}

bool Session::Running() {
  if (pid_ <= 0 || status_ != -1) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  return false;
}

void Session::Signal(int sig) { kill(pid_, sig); }

bool Session::NothingLeftWithin(int timeoutMs) {
  return WaitFor(
      [this] {
        Running();
        for (pid_t child : ChildrenOfThisProcess())
          if (child != pid_) waitpid(child, nullptr, WNOHANG);
        return ChildrenOfThisProcess().empty();
      },
      timeoutMs);
}

int Session::WaitExit(int timeoutMs) {
  if (!WaitFor([this] { return !Running(); }, timeoutMs)) return -1;
  // The trace written just before the exit.
  WaitFor([this] { return outRead_ < 0; }, 200);
  Pump(0);
  return status_ >= 1000 ? -1 : status_;
}

int Session::ElapsedMs() const { return MsSince(begun_); }

std::vector<std::string> Session::TraceLines() const { return SplitLines(out_); }

size_t Session::CountTrace(const std::string& line) const {
  const std::vector<std::string> lines = TraceLines();
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

std::vector<std::string> Session::Commands() const { return SplitLines(ReadWholeFile(logPath_)); }

size_t Session::CountCommand(const std::string& line) const {
  const std::vector<std::string> lines = Commands();
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

pid_t Session::FindBelow(const std::string& comm, bool childOnly) const {
  DIR* proc = opendir("/proc");
  if (!proc) return -1;
  // A script takes its file's name before its exec: the decoder's wrapper is
  // named like the decoder while it is still the shell, with the shell's
  // descriptors.
  char shell[PATH_MAX] = "";
  if (realpath("/bin/sh", shell) == nullptr) shell[0] = '\0';
  pid_t found = -1;
  while (dirent* entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(atoi(entry->d_name));
    const std::string dir = "/proc/" + std::string(entry->d_name);
    if (pid <= 0 || ReadWholeFile(dir + "/comm") != comm + "\n") continue;
    char exe[PATH_MAX];
    const ssize_t n = readlink((dir + "/exe").c_str(), exe, sizeof exe - 1);
    if (n > 0 && std::string(exe, static_cast<size_t>(n)) == shell) continue;
    ProcStat stat;
    for (pid_t up = pid; up > 1 && found < 0 && ReadProcStat(up, stat); up = stat.parent) {
      if (stat.parent == pid_) found = pid;
      if (childOnly) break;
    }
  }
  closedir(proc);
  return found;
}

// Its parent is the player's shell, or the player itself.
pid_t Session::DecoderPid(const std::string& name) const { return FindBelow(name, false); }

pid_t Session::ReceiverPid() const { return FindBelow("norvelo", true); }

std::vector<std::string> Session::CommandsSince(size_t mark) const {
  std::vector<std::string> commands = Commands();
  commands.erase(commands.begin(), commands.begin() + static_cast<std::ptrdiff_t>(
                                                          std::min(mark, commands.size())));
  return commands;
}

std::vector<DisplayFrame> Session::Frames() const {
  std::vector<DisplayFrame> frames = frames_;
  // The last frame may still be on its way; a whole line 2 shows it is not.
  const DisplayFrame* last = reader_.Partial();
  if (last != nullptr && last->line2.size() >= 16) frames.push_back(*last);
  return frames;
}

SessionOptions RealDecoders() {
  SessionOptions options;
  options.decoder = Decoder::Real;
  return options;
}

std::vector<std::string> TrackLines(const Session& s) {
  std::vector<std::string> tracks;
  for (const std::string& line : s.TraceLines())
    if (line.rfind("Track ", 0) == 0) tracks.push_back(line);
  return tracks;
}

}  // namespace e2e
