// Shared pieces of the benchmarks: a pseudo-terminal standing in for the
// serial line, the player started on it, and CPU figures read from /proc.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "posix/keymap.h"
#include "tests/support/temp_dir.h"

struct Pty {
  int master = -1;
  std::string slave;
  bool Open();
  ~Pty();
};

// Writes an executable `mpg123` into dir that runs the real decoder with its
// silent output (or, without one installed, a decoder that stays silent).
void WriteDecoderWrapper(const std::string& dir);

// Starts program with args in a process group of its own, PATH led by pathDir,
// standard output to outFd (or /dev/null when -1).
pid_t Spawn(const std::vector<std::string>& args, const std::string& pathDir, int outFd = -1);

// Puts the stamping decoder into dir as `mpg123`, with its receipts FIFO
// named in the environment the player passes on; the FIFO's path.
std::string InstallLatencyDecoder(const std::string& dir, const char* program);

// Spawn with every "@SLAVE" argument replaced by the line's device path.
pid_t SpawnOnLine(std::vector<std::string> args, const Pty& line, const std::string& pathDir,
                  int outFd = -1);

// The frame of a slot's key in the player's default key map, written to the
// line in one write, as the unit does.
bool PressKey(int master, int slot, bool toggle = false);

// The quit key on the line, then the exit awaited (the line kept drained).
void QuitOnLine(const Pty& line, pid_t pid);

// Reads one receipt line from the stamping decoder's FIFO: its stamp in
// seconds (text: the command), or -1 after 3 s without one.
double NextReceipt(int fifo, std::string& pending, std::string* text = nullptr);

// Pause and play in turn on the line, each timed from the frame to the
// decoder's receipt of its command; milliseconds.
std::vector<double> TimeKeysToDecoder(const Pty& line, int fifo, std::string& pending, int presses);

struct CpuSample {
  double cpuSeconds = 0;    // user + system time of the group's processes
  long contextSwitches = 0;  // voluntary and involuntary
  int processes = 0;
};

// Sums over every process whose process group is pgid.
CpuSample SampleGroup(pid_t pgid);

struct IdleCost {
  double cpuPercent = -1, wakeups = -1;
};
// CPU time of pid's process group as a share of one core, and its context
// switches a second, over seconds while the line is drained.
IdleCost MeasureIdle(pid_t pid, const Pty& line, int seconds);

// Reads and discards whatever the player wrote, for up to ms milliseconds.
std::string DrainFor(int fd, int ms);

// Reads the line until the frame under way, or one it completed, has a line 2
// that shown accepts: when that was, or -1 after 3 s without one. Line 1 is
// taken as 16 wide, as the player and the floor relay write it.
double WaitForLine2(int fd, const std::function<bool(const std::string&)>& shown);

// Reads until a DisplayFrame has come whole, then for its time on a 2400-baud
// line: the player may then send its next frame at once, and its next
// periodic one is a good while off. False when no frame came within 3 s.
bool DrainPastNextFrame(int fd);

double NowSeconds();

// The value below which the share p (0.5, 0.99) of v lies; -1 for none.
double Percentile(std::vector<double> v, double p);

// One row of the benchmark table: what, the player's figure, the reference
// measured in the same run, their ratio (or "" when it means nothing), the goal.
void PrintRow(const std::string& what, double value, double reference, const char* unit,
              const std::string& goal, bool withRatio = true);
void PrintHeader();

// Waits up to ms for pid to end; its exit status, or -1 (then it is killed).
int WaitExit(pid_t pid, int ms);
