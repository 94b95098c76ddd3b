// A Wine prefix with COM5 on a pseudo-terminal, and runs of the substitute
// host with the x86_64 plug-in loaded in it, for the end-to-end tests and the
// benchmark of the plug-in's update pass.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/display_reader.h"

namespace wine {

extern const char kWine[];

std::string WindowsPath(const std::string& unixPath);

// Runs a program to its end, or kills it after timeoutMs; the exit status or -1.
int RunToEnd(const std::vector<std::string>& args, int timeoutMs);

struct Frame {
  long ms;  // arrival, since the session began
  std::string line1, line2;
};

struct Line {
  long ms;
  std::string text;
};

// A private prefix, set in this process's environment for the programs it
// starts, whose COM5 and COM7 are the slave side of a pseudo-terminal held
// open here; Wine lists both among the machine's ports.
struct Prefix {
  std::string dir, error;  // error is empty once the prefix is ready
  int master = -1, slave = -1;

  static bool WineInstalled();
  // Takes minutes at most; on failure error says what went wrong.
  bool Create();
  // Ends the prefix's wineserver and removes the prefix.
  void Destroy();
  ~Prefix() { Destroy(); }
};

// One run of the substitute host from win64Dir with its gen_norvelo.dll.
class HostSession {
 public:
  HostSession(const Prefix& prefix, const std::string& win64Dir);
  ~HostSession() { Stop(); }
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Starts the host and waits for it to report the plug-in's record.
  bool Start();
  // Start, the port setting and host state, then init; waits for its answer.
  bool Init(const std::vector<std::string>& state, const std::string& port = "COM5");
  void Stop();

  bool Send(const std::string& line);
  // Waits until the host has taken every line sent before: what it said
  // until then has been collected, and its answer is not kept in lines.
  bool Sync(int ms = 5000);
  // An IrFrame as the control unit sends it, start bits set.
  bool Key(uint8_t command, uint8_t system = 20);

  long Now() const;
  // CPU seconds the host process has used so far.
  double CpuSeconds() const;

  // The host process's threads and handles, -1 each without an answer.
  struct Counts {
    int threads = -1, handles = -1;
  };
  Counts Count();

  // Collects host lines and frames for ms, or until done() holds.
  bool PumpUntil(const std::function<bool()>& done, int ms);
  void Pump(int ms) { PumpUntil([] { return false; }, ms); }

  // Waits for a host line starting with prefix after those already looked at.
  bool WaitLine(const std::string& prefix, int ms);
  long FindLine(const std::string& prefix);
  // The whole of that line, or "" when none came.
  std::string LineStarting(const std::string& prefix, int ms);
  // Host lines after the mark; moves the mark past them.
  std::vector<std::string> Messages();

  // The first frame after the mark whose line 2 is text right-justified to 16.
  const Frame* WaitLine2(const std::string& text, int ms);
  void MarkFrames() { frameMark_ = frames.size(); }

  std::string Log() const;

  std::vector<Line> lines;
  std::vector<Frame> frames;

 private:
  void Drain();
  void Poll(int ms);

  int master_, slave_;
  std::string host_, dll_;
  std::chrono::steady_clock::time_point start_;
  pid_t pid_ = -1;
  int toHost_ = -1, fromHost_ = -1;
  std::string hostText_;
  DisplayFrameReader reader_;
  size_t lineMark_ = 0, frameMark_ = 0;
};

}  // namespace wine
