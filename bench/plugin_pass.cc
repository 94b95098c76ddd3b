// The plug-in's update pass under Wine: how long a pass takes from one 20 ms
// sleep to the next, how much of that is work, and how many DisplayFrames a
// second reach the line, with the title ticker running and keys coming in.
//   bench_plugin_pass [seconds] [--rows]
//
// The substitute host catches the plug-in's Sleep and WriteFile, so the
// update thread itself tells when it leaves its 20 ms sleep and when it
// enters the next: the time between is the pass's work, measured on the
// thread that does it and free of the sleep's own overshoot. The reference
// is a minimal pass timed the same way in the same host under the same Wine
// before the plug-in starts: the sleep and the two requests a pass makes when
// nothing is due (current entry and its title). The host's request times
// alone would not do: a pass's last step, the frame write, asks the host
// nothing, so they show where passes begin but not where their work ends.
// The pseudo-terminal takes a frame at once; on a real 2400-baud line a pass
// that writes one waits about 142 ms for it, which this cannot show.
//
// Then quit: a fresh host loads, starts, quits and unloads the plug-in again
// and again, with keys on the line, and reports how long each quit took and
// its own thread and handle counts before and after. The reference is the
// least a quit can cost in that host: a thread blocked in a wait, told to end
// through an event and joined. The host answers the line-event waits itself
// (a DLL loaded again under Wine can hang once a real one was pending).
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "link/link.h"
#include "link/ticker.h"
#include "plugin/display.h"
#include "plugin/tests/wine_session.h"

namespace {

volatile sig_atomic_t Interrupted = 0;
void OnSignal(int) { Interrupted = 1; }

struct Passes {
  std::vector<double> periodMs, workUs, frameWorkUs;
};

double Mean(const std::vector<double>& v) {
  if (v.empty()) return -1;
  double sum = 0;
  for (double x : v) sum += x;
  return sum / static_cast<double>(v.size());
}

// Lines "KIND LEAVE ENTER WRITES", in microseconds, one per pass in order.
Passes ReadPasses(const std::vector<wine::Line>& lines, const std::string& kind) {
  Passes out;
  double lastEnter = -1;
  for (const wine::Line& l : lines) {
    std::istringstream in(l.text);
    std::string k;
    double leave = 0, enter = 0;
    int writes = 0;
    if (!(in >> k >> leave >> enter >> writes) || k != kind) continue;
    if (lastEnter >= 0) out.periodMs.push_back((enter - lastEnter) / 1000);
    lastEnter = enter;
    out.workUs.push_back(enter - leave);
    if (writes > 0) out.frameWorkUs.push_back(enter - leave);
  }
  return out;
}

double Max(const std::vector<double>& v) { return v.empty() ? -1 : *std::max_element(v.begin(), v.end()); }

// The numbers of the host lines "PREFIX NUMBER".
std::vector<double> Values(const std::vector<wine::Line>& lines, const std::string& prefix) {
  std::vector<double> out;
  for (const wine::Line& l : lines) {
    if (l.text.rfind(prefix + " ", 0) != 0) continue;
    std::istringstream in(l.text.substr(prefix.size()));
    double value = 0;
    if (in >> value) out.push_back(value);
  }
  return out;
}

bool Fail(const std::string& why) {
  fprintf(stderr, "bench_plugin_pass: %s\n", why.c_str());
  return false;
}

constexpr int kMinimalPasses = 250;
// The plug-in's DisplayFrame: both lines right-justified to 16.
const double kFrameBytes = static_cast<double>(BuildDisplayFrame("", "", true).size());
// A ticker step and a status line, each in its period. A key's feedback takes
// the status line's place (the key restarts its second), so keys do not raise
// the figure; a status line that falls in a ticker pass shares its frame, so
// the measured rate may be lower.
constexpr double kExpectedFramesPerSecond = 1000.0 / kTickerPeriodMs + 1000.0 / kStatusPeriodMs;

bool Run(int seconds) {
  const std::string win64 = WIN64_DIR;
  if (!wine::Prefix::WineInstalled()) return Fail(std::string(wine::kWine) + " is not installed");
  if (access((win64 + "/norvelo_host.exe").c_str(), R_OK) != 0 ||
      access((win64 + "/gen_norvelo.dll").c_str(), R_OK) != 0)
    return Fail("no norvelo_host.exe and gen_norvelo.dll in " + win64 + " (make build)");
  wine::Prefix prefix;
  if (!prefix.Create()) return Fail("Wine prefix: " + prefix.error);
  wine::HostSession s(prefix, win64);
  if (!s.Start()) return Fail("the substitute host did not start");

  s.Send("minpass " + std::to_string(kMinimalPasses));
  if (!s.WaitLine("minpass end", kMinimalPasses * 200)) return Fail("no minimal passes");
  const Passes minimal = ReadPasses(s.lines, "minpass");

  const std::string title = "A title well beyond the sixteen characters of line 1";
  if (!s.Init({"len 10", "pos 2", "play 1", "time 83000", "title 2 " + title, "wave 0"}))
    return Fail("the plug-in did not start:\n" + s.Log());
  s.Pump(1500);
  if (s.frames.empty()) return Fail("no frame on the line:\n" + s.Log());

  s.Send("timing on");
  s.Pump(100);
  const long from = s.Now();
  const uint8_t keys[] = {16, 32, 17, 33};  // volume and next/previous, as a user might
  int sent = 0, second = 0;
  for (long t = 0; t < seconds * 1000L && !Interrupted; t = s.Now() - from) {
    if (t >= (sent + 1) * 2000L) s.Key(keys[sent++ % 4]);
    if (t >= (second + 1) * 1000L) s.Send("time " + std::to_string(83000 + 1000 * ++second));
    s.Pump(100);
  }
  if (Interrupted) return Fail("interrupted");
  const long to = s.Now();
  s.Send("timing off");
  if (!s.WaitLine("timing end", 20000)) return Fail("no pass times");
  const Passes plugin = ReadPasses(s.lines, "pass");
  if (plugin.periodMs.size() < 10 || minimal.periodMs.size() < 10) return Fail("too few passes");

  size_t frames = 0;
  for (const wine::Frame& f : s.frames) frames += f.ms >= from && f.ms < to;
  const double framesPerSecond = static_cast<double>(frames) * 1000.0 / static_cast<double>(to - from);

  const std::string span = " (" + std::to_string(seconds) + " s)";
  PrintRow("plug-in pass period, Wine" + span, Mean(plugin.periodMs), Mean(minimal.periodMs), "ms",
           "near the 20 ms sleep");
  PrintRow("plug-in work per pass, mean", Mean(plugin.workUs), Mean(minimal.workUs), "us", "small beside 20 ms");
  PrintRow("plug-in work per pass, 99th pct", Percentile(plugin.workUs, 0.99),
           Percentile(minimal.workUs, 0.99), "us", "small beside 20 ms");
  PrintRow("plug-in work, passes with a frame", Mean(plugin.frameWorkUs), Mean(minimal.workUs), "us",
           "small beside 20 ms");
  PrintRow("DisplayFrames per second, cadence", framesPerSecond, kExpectedFramesPerSecond, "/s",
           "2 ticker + 1 status");
  PrintRow("DisplayFrames per second, capacity", framesPerSecond, static_cast<double>(kLineBytesPerSecond) / kFrameBytes,
           "/s", "below the line's capacity");
  return true;
}

constexpr int kQuitCycles = 20;

bool RunQuits() {
  wine::Prefix prefix;
  if (!prefix.Create()) return Fail("Wine prefix: " + prefix.error);
  wine::HostSession s(prefix, WIN64_DIR);
  if (!s.Start()) return Fail("the substitute host did not start");
  s.Send("minquit " + std::to_string(kQuitCycles));
  if (!s.WaitLine("minquit end", 60000)) return Fail("no minimal quits");
  for (const char* line : {"stubwait", "regset COM5", "len 10", "pos 2", "play 1", "title 2 Title", "wave 0"})
    s.Send(line);
  const wine::HostSession::Counts start = s.Count();
  for (int cycle = 0; cycle < kQuitCycles && !Interrupted; ++cycle) {
    if (cycle > 0) {
      s.Send("load");
      if (!s.WaitLine("record ", 10000)) return Fail("no load:\n" + s.Log());
    }
    s.Send("init");
    if (!s.WaitLine("init 0", 10000)) return Fail("no init:\n" + s.Log());
    s.Key(16);  // a key left on the line by the cycle before may act first
    if (!s.WaitLine("req 122", 3000)) return Fail("no key acted:\n" + s.Log());
    s.Key(16);
    s.Send("quit");
    if (!s.WaitLine("quit done", 5000)) return Fail("no quit:\n" + s.Log());
    s.Send("unload");
    if (!s.WaitLine("unloaded", 5000)) return Fail("no unload:\n" + s.Log());
  }
  if (Interrupted) return Fail("interrupted");
  s.Pump(500);
  const wine::HostSession::Counts end = s.Count();
  const std::vector<double> quits = Values(s.lines, "quit done"), minimal = Values(s.lines, "minquit");
  const std::string span = " (" + std::to_string(kQuitCycles) + ")";
  PrintRow("plug-in quit, mean" + span, Mean(quits), Mean(minimal), "ms", "under 1500 ms");
  PrintRow("plug-in quit, slowest" + span, Max(quits), Max(minimal), "ms", "under 1500 ms");
  PrintRow("host threads after the cycles", end.threads, start.threads, "", "the host's own", false);
  PrintRow("host handles after the cycles", end.handles, start.handles, "", "within a few of the start", false);
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  int seconds = 20;
  bool rows = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--rows") rows = true;
    else seconds = std::max(1, atoi(argv[i]));
  }
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  if (!rows) PrintHeader();
  const bool passes = Run(seconds);
  return RunQuits() && passes ? 0 : 1;
}
