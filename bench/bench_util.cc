#include "bench/bench_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "posix/keymap.h"
#include "link/display_reader.h"
#include "link/link.h"
#include "posix/child.h"
#include "posix/posix.h"
#include "tests/support/proc.h"

bool Pty::Open() {
  master = OpenPtyMaster(slave);
  if (master < 0) return false;
  MakeRaw(master);
  return true;
}

Pty::~Pty() {
  if (master >= 0) close(master);
}

void WriteDecoderWrapper(const std::string& dir) {
  const std::string path = dir + "/mpg123";
  std::ofstream script(path);
  if (access("/usr/bin/mpg123", X_OK) == 0)
    script << "#!/bin/sh\nexec /usr/bin/mpg123 -o dummy \"$@\"\n";
  else
    script << "#!/bin/sh\necho '@R silent'\nexec cat >/dev/null\n";
  script.close();
  chmod(path.c_str(), 0755);
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& pathDir, int outFd) {
  const int null = outFd >= 0 ? -1 : open("/dev/null", O_WRONLY | O_CLOEXEC);
  ChildSetup setup;
  setup.out = outFd >= 0 ? outFd : null;
  setup.ownGroup = true;
  const pid_t pid = ForkChild(setup);
  if (null >= 0 && pid != 0) close(null);
  if (pid != 0) return pid;
  const char* oldPath = getenv("PATH");
  const std::string path = pathDir + ":" + (oldPath ? oldPath : "/usr/bin:/bin");
  setenv("PATH", path.c_str(), 1);
  execv(args[0].c_str(), ArgvOf(args).data());
  _exit(127);
}

std::string InstallLatencyDecoder(const std::string& dir, const char* program) {
  const std::string fifo = dir + "/receipts";
  mkfifo(fifo.c_str(), 0600);
  char decoder[4096];
  if (!realpath(program, decoder) || symlink(decoder, (dir + "/mpg123").c_str()) != 0)
    perror(program);
  setenv("NORVELO_BENCH_RECEIPTS", fifo.c_str(), 1);
  return fifo;
}

pid_t SpawnOnLine(std::vector<std::string> args, const Pty& line, const std::string& pathDir,
                  int outFd) {
  for (std::string& a : args)
    if (a == "@SLAVE") a = line.slave;
  return Spawn(args, pathDir, outFd);
}

bool PressKey(int master, int slot, bool toggle) {
  const IrFrame frame = IrFrameForCode(DefaultKeys()[static_cast<size_t>(slot)], toggle);
  const uint8_t bytes[2] = {frame.byte0, frame.byte1};
  return write(master, bytes, 2) == 2;
}

void QuitOnLine(const Pty& line, pid_t pid) {
  if (!PressKey(line.master, KeyQuit)) perror("quit");
  DrainFor(line.master, 200);
  WaitExit(pid, 5000);
}

CpuSample SampleGroup(pid_t pgid) {
  CpuSample sample;
  DirHandle proc(opendir("/proc"));
  if (!proc) return sample;
  while (dirent* entry = readdir(proc.get())) {
    const pid_t pid = static_cast<pid_t>(atoi(entry->d_name));
    ProcStat stat;
    if (pid <= 0 || !ReadProcStat(pid, stat) || stat.group != pgid || stat.state == 'Z') continue;
    sample.cpuSeconds += stat.cpuSeconds;
    ++sample.processes;
    for (const char* field : {"voluntary_ctxt_switches", "nonvoluntary_ctxt_switches"})
      sample.contextSwitches += std::max(0L, ProcStatusNumber(pid, field));
  }
  return sample;
}

double NowSeconds() { return static_cast<double>(MonotonicUs()) / 1e6; }

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

std::string DrainFor(int fd, int ms) {
  std::string all;
  const double end = NowSeconds() + ms / 1000.0;
  for (;;) {
    const int left = static_cast<int>((end - NowSeconds()) * 1000);
    if (left <= 0) break;
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    all.append(buffer, static_cast<size_t>(n));
  }
  return all;
}

double WaitForLine2(int fd, const std::function<bool(const std::string&)>& shown) {
  DisplayFrameReader reader(kDisplayWidth);
  const double deadline = NowSeconds() + 3;
  for (;;) {
    const int left = static_cast<int>((deadline - NowSeconds()) * 1000);
    if (left <= 0) return -1;
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    uint8_t buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) continue;
    bool seen = false;
    for (const DisplayLines& frame : reader.Feed(buffer, static_cast<size_t>(n)))
      seen = seen || shown(frame.line2);
    if (seen || (reader.Partial() != nullptr && shown(reader.Partial()->line2))) return NowSeconds();
  }
}

bool DrainPastNextFrame(int fd) {
  if (WaitForLine2(fd, [](const std::string& line2) { return line2.size() >= 16; }) < 0)
    return false;
  DrainFor(fd, 170);
  return true;
}

int WaitExit(pid_t pid, int ms) {
  int status = -1;  // one that did not exit
  if (ReapWithin(pid, ms, &status)) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

void PrintHeader() {
  printf("%-36s %14s %14s %8s  %s\n", "figure", "player", "reference", "ratio", "goal");
}

void PrintRow(const std::string& what, double value, double reference, const char* unit,
              const std::string& goal, bool withRatio) {
  char v[32], r[32], ratio[16] = "";
  snprintf(v, sizeof v, "%.3f %s", value, unit);
  if (reference < 0)
    snprintf(r, sizeof r, "-");
  else
    snprintf(r, sizeof r, "%.3f %s", reference, unit);
  if (withRatio && reference > 0) snprintf(ratio, sizeof ratio, "%.2fx", value / reference);
  printf("%-36s %14s %14s %8s  %s\n", what.c_str(), v, r, ratio, goal.c_str());
  fflush(stdout);
}

double NextReceipt(int fifo, std::string& pending, std::string* text) {
  const double deadline = NowSeconds() + 3;
  for (;;) {
    const size_t nl = pending.find('\n');
    if (nl != std::string::npos) {
      const std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (text) *text = line.substr(line.find(' ') + 1);
      return atof(line.c_str());
    }
    const int left = static_cast<int>((deadline - NowSeconds()) * 1000);
    if (left <= 0) return -1;
    pollfd p = {fifo, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(fifo, buffer, sizeof buffer);
    if (n > 0) pending.append(buffer, static_cast<size_t>(n));
  }
}

std::vector<double> TimeKeysToDecoder(const Pty& line, int fifo, std::string& pending, int presses) {
  std::vector<double> ms;
  for (int i = 0; i < presses; ++i) {
    const double sent = NowSeconds();
    if (!PressKey(line.master, i % 2 == 0 ? KeyPause : KeyPlay)) break;
    const double got = NextReceipt(fifo, pending);
    if (got < 0) break;
    ms.push_back((got - sent) * 1000);
    DrainFor(line.master, 5);
  }
  return ms;
}

IdleCost MeasureIdle(pid_t pid, const Pty& line, int seconds) {
  IdleCost idle;
  const CpuSample before = SampleGroup(pid);
  const double start = NowSeconds();
  DrainFor(line.master, seconds * 1000);
  const CpuSample after = SampleGroup(pid);
  const double span = NowSeconds() - start;
  idle.cpuPercent = 100.0 * (after.cpuSeconds - before.cpuSeconds) / span;
  idle.wakeups = static_cast<double>(after.contextSwitches - before.contextSwitches) / span;
  return idle;
}
