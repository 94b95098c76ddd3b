#include "plugin/tests/wine_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "link/link.h"
#include "posix/posix.h"
#include "tests/support/proc.h"

namespace fs = std::filesystem;

namespace wine {

const char kWine[] = "/usr/lib/wine/wine64";

std::string WindowsPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

int RunToEnd(const std::vector<std::string>& args, int timeoutMs) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execv(args[0].c_str(), ArgvOf(args).data());
    _exit(127);
  }
  int status = -1;  // one that did not exit
  if (ReapWithin(pid, timeoutMs, &status)) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

bool Prefix::WineInstalled() { return access(kWine, X_OK) == 0; }

bool Prefix::Create() {
  char name[] = "/tmp/norvelo-wine-XXXXXX";
  if (mkdtemp(name) == nullptr) { error = "mkdtemp"; return false; }
  dir = name;
  setenv("WINEPREFIX", name, 1);
  setenv("WINEDEBUG", "-all", 1);
  setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
  if (RunToEnd({kWine, "wineboot", "-i"}, 180000) != 0) { error = "wineboot failed"; return false; }

  std::string slaveName;
  master = OpenPtyMaster(slaveName);
  if (master < 0) {
    error = "no pseudo-terminal";
    return false;
  }
  // Our own slave descriptor keeps the line raw and open between hosts.
  slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
  MakeRaw(slave);
  SetNonBlocking(master);

  std::error_code ec;
  for (const char* port : {"com5", "com7"}) {
    const fs::path link = fs::path(dir) / "dosdevices" / port;
    fs::remove(link, ec);
    fs::create_symlink(slaveName, link, ec);
  }
  const std::string reg = dir + "/setup.reg";
  std::ofstream(reg) << "REGEDIT4\n\n"
                     << "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]\n"
                     << "\"Debugger\"=\"\"\n\n"
                     << "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n"
                     << "\"COM5\"=\"" << slaveName << "\"\n"
                     << "\"COM7\"=\"" << slaveName << "\"\n";
  if (RunToEnd({kWine, "reg", "import", WindowsPath(reg)}, 60000) != 0) {
    error = "reg import failed";
    return false;
  }
  // Wine lists its ports in HARDWARE\DEVICEMAP\SERIALCOMM when it starts,
  // from the settings above: start it afresh, and let it do so now.
  RunToEnd({"/usr/bin/wineserver", "-k"}, 30000);
  RunToEnd({"/usr/bin/wineserver", "-w"}, 30000);
  RunToEnd({kWine, "reg", "query", "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM"}, 60000);
  return true;
}

void Prefix::Destroy() {
  if (!dir.empty()) {
    RunToEnd({"/usr/bin/wineserver", "-k"}, 30000);
    std::error_code ec;
    fs::remove_all(dir, ec);
    dir.clear();
  }
  if (master >= 0) close(master);
  if (slave >= 0) close(slave);
  master = slave = -1;
}

HostSession::HostSession(const Prefix& prefix, const std::string& win64Dir)
    : master_(prefix.master),
      slave_(prefix.slave),
      host_(win64Dir + "/norvelo_host.exe"),
      dll_(win64Dir + "/gen_norvelo.dll"),
      start_(std::chrono::steady_clock::now()) {}

bool HostSession::Start() {
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
    const std::string dll = WindowsPath(dll_);
    execl(kWine, kWine, host_.c_str(), dll.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  toHost_ = in[1];
  fromHost_ = out[0];
  SetNonBlocking(fromHost_);
  return WaitLine("record ", 60000);
}

bool HostSession::Init(const std::vector<std::string>& state, const std::string& port) {
  if (!Start()) return false;
  Send("regset " + port);
  for (const std::string& s : state) Send(s);
  Send("init");
  return WaitLine("init 0", 20000);
}

void HostSession::Stop() {
  if (pid_ <= 0) return;
  Send("exit");
  for (int i = 0; i < 250; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) { pid_ = -1; break; }
    SleepMs(20);
  }
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  close(toHost_);
  close(fromHost_);
}

bool HostSession::Sync(int ms) {
  const size_t from = std::max(lines.size(), lineMark_);
  if (!Send("sync")) return false;
  return PumpUntil([&] {
    for (size_t i = from; i < lines.size(); ++i)
      if (lines[i].text == "sync") {
        lines.erase(lines.begin() + static_cast<long>(i));
        return true;
      }
    return false;
  }, ms);
}

bool HostSession::Send(const std::string& line) {
  const std::string text = line + "\n";
  return write(toHost_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool HostSession::Key(uint8_t command, uint8_t system) {
  const IrFrame frame = IrFrameForKey(IrKey{command, system}, false);
  const uint8_t bytes[2] = {frame.byte0, frame.byte1};
  return write(master_, bytes, 2) == 2;
}

long HostSession::Now() const {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start_).count());
}

bool HostSession::PumpUntil(const std::function<bool()>& done, int ms) {
  const long end = Now() + ms;
  while (!done()) {
    const long left = end - Now();
    if (left <= 0) return false;
    Poll(static_cast<int>(std::min(left, 20L)));
  }
  return true;
}

bool HostSession::WaitLine(const std::string& prefix, int ms) {
  return PumpUntil([&] { return FindLine(prefix) >= 0; }, ms);
}

std::string HostSession::LineStarting(const std::string& prefix, int ms) {
  long at = -1;
  PumpUntil([&] { return (at = FindLine(prefix)) >= 0; }, ms);
  return at >= 0 ? lines[static_cast<size_t>(at)].text : std::string();
}

HostSession::Counts HostSession::Count() {
  Counts c;
  if (Send("count"))
    sscanf(LineStarting("count ", 5000).c_str(), "count threads=%d handles=%d", &c.threads, &c.handles);
  return c;
}

long HostSession::FindLine(const std::string& prefix) {
  for (size_t i = lineMark_; i < lines.size(); ++i)
    if (lines[i].text.rfind(prefix, 0) == 0) {
      lineMark_ = i + 1;
      return static_cast<long>(i);
    }
  return -1;
}

std::vector<std::string> HostSession::Messages() {
  std::vector<std::string> out;
  for (size_t i = lineMark_; i < lines.size(); ++i) out.push_back(lines[i].text);
  lineMark_ = lines.size();
  return out;
}

const Frame* HostSession::WaitLine2(const std::string& text, int ms) {
  const std::string want = text.size() < 16 ? std::string(16 - text.size(), ' ') + text : text;
  const Frame* found = nullptr;
  PumpUntil([&] {
    for (size_t i = frameMark_; i < frames.size(); ++i)
      if (frames[i].line2 == want) { frameMark_ = i + 1; found = &frames[i]; return true; }
    return false;
  }, ms);
  return found;
}

std::string HostSession::Log() const {
  std::string text = "host said:\n";
  for (const Line& l : lines) text += "  " + std::to_string(l.ms) + " " + l.text + "\n";
  text += "frames:\n";
  const size_t from = frames.size() > 12 ? frames.size() - 12 : 0;
  for (size_t i = from; i < frames.size(); ++i)
    text += "  " + std::to_string(frames[i].ms) + " [" + frames[i].line1 + "][" + frames[i].line2 + "]\n";
  return text;
}

void HostSession::Drain() {
  char buf[4096];
  while (read(master_, buf, sizeof buf) > 0) {}
  // Frames an earlier session sent after its plug-in stopped reading are
  // still queued on the line; a new plug-in would take them for keys.
  tcflush(slave_, TCIFLUSH);
}

void HostSession::Poll(int ms) {
  pollfd fds[2] = {{fromHost_, POLLIN, 0}, {master_, POLLIN, 0}};
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
    const ssize_t got = read(master_, buf, sizeof buf);
    if (got > 0)
      for (const DisplayLines& f :
           reader_.Feed(reinterpret_cast<const uint8_t*>(buf), static_cast<size_t>(got), Now()))
        frames.push_back({static_cast<long>(f.at), f.line1, f.line2});
  }
  // A frame has no end of its own: the last one is whole once the line has
  // gone quiet after a full line 2.
  const DisplayLines* last = reader_.Partial();
  DisplayLines f;
  if (n == 0 && last != nullptr && last->line2.size() >= 16 && reader_.Flush(f))
    frames.push_back({static_cast<long>(f.at), f.line1, f.line2});
}

}  // namespace wine

double wine::HostSession::CpuSeconds() const {
  ProcStat stat;
  return ReadProcStat(pid_, stat) ? stat.cpuSeconds : 0;
}
