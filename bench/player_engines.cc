// The players that run of their own, driven by the box: from the key on the
// line to the player's own report of the change (MPD: the answer to idle on
// a second connection; MPRIS: PropertiesChanged on the bus), beside the way
// it is done without norvelo (a shell started for `mpc next` or `playerctl
// next` at the same moment) and beside the floor relay's key -> command.
// Then the player's idle cost with each engine, paused and playing.
//   bench_player_engines <norvelo> <floor_relay> <latency_decoder> [presses [seconds [--rows]]]
#include <fcntl.h>
#include <mpd/client.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "posix/posix.h"
#include "mpd_server.h"
#include "session_bus.h"

namespace {

// A report not there within this is not coming (the library counts whole
// seconds).
constexpr int kAnswerMs = 3000;

void UseEnvironment(const std::vector<std::string>& entries) {
  for (const std::string& entry : entries) putenv(strdup(entry.c_str()));
}

// The shell users start per key today, not waited for.
pid_t StartShell(const std::string& command) {
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// Each change timed from start() to the report awaited by wait(); ms.
std::vector<double> TimeChanges(int presses, const std::function<bool(int)>& start,
                                const std::function<bool()>& arm, const std::function<bool()>& wait) {
  std::vector<double> ms;
  for (int i = 0; i < presses; ++i) {
    if (!arm()) break;
    const double sent = NowSeconds();
    if (!start(i)) break;
    if (!wait()) break;
    ms.push_back((NowSeconds() - sent) * 1000);
    // The repeat filter and the players' own pace are left out of it.
    SleepMs(20);
  }
  return ms;
}

struct EngineFigures {
  std::vector<double> player, shell;
  IdleCost paused, playing;
};

// The box's part: the player on a line driving the engine, its keys timed
// to the report, then its idle cost in both states.
template <typename Arm, typename Wait, typename SetPlaying>
void MeasurePlayer(const std::string& norvelo, const std::string& engine, const std::string& dir,
                   int presses, int seconds, EngineFigures& out, Arm arm, Wait wait,
                   SetPlaying setPlaying) {
  Pty pty;
  if (!pty.Open()) return;
  const pid_t pid = SpawnOnLine({norvelo, "-s", "@SLAVE", "-p", engine}, pty, dir);
  DrainFor(pty.master, 1500);
  // Next and previous in turn: two codes, so the repeat filter lets each by.
  out.player = TimeChanges(
      presses,
      [&](int i) { return PressKey(pty.master, i % 2 == 0 ? KeyNextTrack : KeyPreviousTrack); }, arm,
      [&] {
        const bool got = wait();
        DrainFor(pty.master, 5);
        return got;
      });
  setPlaying(true);
  DrainFor(pty.master, 1000);
  out.playing = MeasureIdle(pid, pty, seconds);
  setPlaying(false);
  DrainFor(pty.master, 1000);
  out.paused = MeasureIdle(pid, pty, seconds);
  QuitOnLine(pty, pid);
}

std::vector<double> MeasureShell(int presses, const std::string& next, const std::string& previous,
                                 const std::function<bool()>& arm, const std::function<bool()>& wait) {
  std::vector<pid_t> shells;
  std::vector<double> ms = TimeChanges(
      presses,
      [&](int i) {
        shells.push_back(StartShell(i % 2 == 0 ? next : previous));
        return shells.back() > 0;
      },
      arm, wait);
  for (pid_t shell : shells) waitpid(shell, nullptr, 0);
  return ms;
}

EngineFigures MeasureMpd(const std::string& norvelo, const std::string& dir, int presses, int seconds) {
  EngineFigures figures;
  e2e::MpdOptions options;
  options.tracks = 5;
  e2e::MpdServer server(options);
  if (!server.Start()) {
    fprintf(stderr, "no MPD: %s\n", server.Log().c_str());
    return figures;
  }
  UseEnvironment(server.Environment());
  server.Mpc("play 2");
  mpd_connection* watch = mpd_connection_new("127.0.0.1", static_cast<unsigned>(server.port()), kAnswerMs);
  if (watch == nullptr || mpd_connection_get_error(watch) != MPD_ERROR_SUCCESS) return figures;
  const auto arm = [&] { return mpd_send_idle_mask(watch, MPD_IDLE_PLAYER); };
  const auto wait = [&] { return (mpd_recv_idle(watch, false) & MPD_IDLE_PLAYER) != 0; };
  const auto setPlaying = [&](bool playing) { server.Mpc(playing ? "play" : "pause"); };
  // The shells first: a report that never came leaves the watch broken.
  const std::string mpc = "mpc -q -h 127.0.0.1 -p " + std::to_string(server.port());
  figures.shell = MeasureShell(presses, mpc + " next", mpc + " prev", arm, wait);
  MeasurePlayer(norvelo, "mpd", dir, presses, seconds, figures, arm, wait, setPlaying);
  mpd_connection_free(watch);
  return figures;
}

int OnChange(sd_bus_message*, void* seen, sd_bus_error*) {
  *static_cast<bool*>(seen) = true;
  return 0;
}

EngineFigures MeasureMpris(const std::string& norvelo, const std::string& dir, int presses,
                           int seconds) {
  EngineFigures figures;
  e2e::SessionBus bus;
  std::string mpv;
  if (!bus.Start() || (mpv = bus.StartPlayer()).empty()) {
    fprintf(stderr, "no session bus or player: %s\n", bus.Log().c_str());
    return figures;
  }
  UseEnvironment(bus.Environment());
  sd_bus* watch = nullptr;
  bool seen = false;
  if (sd_bus_open_user(&watch) < 0 ||
      sd_bus_add_match(watch, nullptr,
                       "type='signal',interface='org.freedesktop.DBus.Properties',"
                       "member='PropertiesChanged',path='/org/mpris/MediaPlayer2'",
                       OnChange, &seen) < 0)
    return figures;
  const auto arm = [&] {
    // What came since the last change is not this one's report.
    while (sd_bus_process(watch, nullptr) > 0) {
    }
    seen = false;
    return true;
  };
  const auto wait = [&] {
    const double end = NowSeconds() + kAnswerMs / 1000.0;
    while (!seen && NowSeconds() < end) {
      if (sd_bus_process(watch, nullptr) > 0) continue;
      sd_bus_wait(watch, 100000);
    }
    return seen;
  };
  const auto setPlaying = [&](bool playing) {
    bus.Playerctl("-p " + mpv + (playing ? " play" : " pause"));
  };
  const std::string playerctl = "playerctl -p " + mpv;
  figures.shell = MeasureShell(presses, playerctl + " next", playerctl + " previous", arm, wait);
  MeasurePlayer(norvelo, "mpris", dir, presses, seconds, figures, arm, wait, setPlaying);
  sd_bus_flush_close_unref(watch);
  return figures;
}

// The floor relay's key -> command, as the key latency bench takes it.
std::vector<double> MeasureFloor(const std::string& relay, const std::string& decoder,
                                 const std::string& dir, const std::string& fifoPath, int presses) {
  Pty pty;
  const int fifo = open(fifoPath.c_str(), O_RDONLY | O_NONBLOCK);
  if (!pty.Open() || fifo < 0) return {};
  const pid_t pid = SpawnOnLine({relay, "@SLAVE", decoder}, pty, dir);
  DrainFor(pty.master, 300);
  std::string pending;
  std::vector<double> ms = TimeKeysToDecoder(pty, fifo, pending, presses);
  QuitOnLine(pty, pid);
  close(fifo);
  return ms;
}

void PrintEngine(const std::string& name, const char* report, const char* shell,
                 const EngineFigures& f, const std::vector<double>& floor, int seconds) {
  const std::string n = " (" + std::to_string(f.player.size()) + ")";
  PrintRow(name + " key -> " + report + ", median" + n, Percentile(f.player, 0.5),
           Percentile(floor, 0.5), "ms", "near the floor");
  PrintRow(name + " key -> " + report + ", p99" + n, Percentile(f.player, 0.99),
           Percentile(floor, 0.99), "ms", "under one frame");
  PrintRow(std::string(shell) + " -> " + report + ", median", Percentile(f.shell, 0.5),
           Percentile(floor, 0.5), "ms", "today's way");
  PrintRow(std::string(shell) + " -> " + report + ", p99", Percentile(f.shell, 0.99),
           Percentile(floor, 0.99), "ms", "today's way");
  const std::string span = " (" + std::to_string(seconds) + " s)";
  PrintRow(name + " idle CPU paused" + span, f.paused.cpuPercent, -1, "%", "under 1 %", false);
  PrintRow(name + " idle wake-ups paused" + span, f.paused.wakeups, -1, "/s", "under 5", false);
  PrintRow(name + " CPU playing" + span, f.playing.cpuPercent, -1, "%", "under 1 %", false);
  PrintRow(name + " wake-ups playing" + span, f.playing.wakeups, -1, "/s", "under 5", false);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s norvelo floor_relay latency_decoder [presses [seconds [--rows]]]\n",
            argv[0]);
    return 2;
  }
  const int presses = argc > 4 ? atoi(argv[4]) : 100;
  const int seconds = argc > 5 ? atoi(argv[5]) : 10;
  TempDir dir("norvelo-bench");
  const std::string fifo = InstallLatencyDecoder(dir.path(), argv[3]);
  const std::vector<double> floor = MeasureFloor(argv[2], argv[3], dir.path(), fifo, presses);
  const EngineFigures mpd = MeasureMpd(argv[1], dir.path(), presses, seconds);
  const EngineFigures mpris = MeasureMpris(argv[1], dir.path(), presses, seconds);
  if (argc <= 6) PrintHeader();
  PrintEngine("MPD", "idle answer", "shell `mpc next`", mpd, floor, seconds);
  PrintEngine("MPRIS", "PropertiesChanged", "shell `playerctl next`", mpris, floor, seconds);
  return mpd.player.empty() || mpris.player.empty() ? 1 : 0;
}
