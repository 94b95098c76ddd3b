// norvelo-bridge's figures: from an IrFrame written on the line to its line
// read by a key client on the socket, beside the floor relay's key to decoder
// line in the same run; and what the bridge costs idling with five clients
// connected (three key clients, two display clients showing a screen),
// beside the floor relay idling as long.
//   bench_bridge <norvelo-bridge> <floor_relay> <latency_decoder> [presses [seconds [--rows]]]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "posix/posix.h"

namespace {

int Connect(int family, const std::string& where) {
  for (int tries = 0; tries < 200; ++tries) {
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int ok = -1;
    if (family == AF_UNIX) {
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      strncpy(address.sun_path, where.c_str(), sizeof address.sun_path - 1);
      ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } else {
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<uint16_t>(atoi(where.c_str())));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (ok == 0) return fd;
    close(fd);
    SleepMs(10);
  }
  return -1;
}

// The bridge on a line, with its trace read for the display port.
struct RunningBridge {
  Pty pty;
  pid_t pid = -1;
  std::string socket;
  std::string port;

  bool Start(const char* program, const std::string& dir) {
    int trace[2];
    if (!pty.Open() || pipe(trace) != 0) return false;
    socket = dir + "/lircd";
    pid = Spawn({program, "-s", pty.slave, "-l", socket, "-p", "0"}, dir, trace[1]);
    close(trace[1]);
    const std::string mark = "display on 127.0.0.1:";
    std::string seen;
    const double deadline = NowSeconds() + 5;
    while (seen.find('\n', seen.find(mark)) == std::string::npos && NowSeconds() < deadline)
      seen += DrainFor(trace[0], 50);
    close(trace[0]);  // from here on the traces go nowhere: ignored SIGPIPE, failed writes
    const size_t at = seen.find(mark);
    if (at == std::string::npos) return false;
    port = std::to_string(atoi(seen.c_str() + at + mark.size()));
    return true;
  }
  ~RunningBridge() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    WaitExit(pid, 5000);
  }
};

std::vector<double> KeyToSocket(const char* program, const std::string& dir, int presses) {
  std::vector<double> ms;
  RunningBridge bridge;
  if (!bridge.Start(program, dir)) return ms;
  const int client = Connect(AF_UNIX, bridge.socket);
  if (client < 0) return ms;
  DrainFor(bridge.pty.master, 300);
  for (int i = 0; i < presses; ++i) {
    // Toggle flipped each time: every one a new press, as a user's.
    const double sent = NowSeconds();
    if (!PressKey(bridge.pty.master, KeyPlay, i % 2 != 0)) break;
    std::string got;
    while (got.find('\n') == std::string::npos) {
      pollfd p = {client, POLLIN, 0};
      if (poll(&p, 1, 3000) <= 0) break;
      char buffer[256];
      const ssize_t n = read(client, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    if (got.find('\n') == std::string::npos) break;
    ms.push_back((NowSeconds() - sent) * 1000);
    DrainFor(bridge.pty.master, 5);
  }
  close(client);
  return ms;
}

IdleCost BridgeIdle(const char* program, const std::string& dir, int seconds) {
  RunningBridge bridge;
  if (!bridge.Start(program, dir)) return IdleCost();
  std::vector<int> clients;
  for (int i = 0; i < 3; ++i) clients.push_back(Connect(AF_UNIX, bridge.socket));
  for (int i = 0; i < 2; ++i) {
    const int fd = Connect(AF_INET, bridge.port);
    const std::string screen = "s" + std::to_string(i);
    const std::string commands = "hello\nscreen_add " + screen + "\nwidget_add " + screen +
                                 " w string\nwidget_set " + screen + " w 1 1 {Idle client}\n";
    if (fd >= 0 && write(fd, commands.data(), commands.size()) < 0) perror("display client");
    clients.push_back(fd);
  }
  DrainFor(bridge.pty.master, 1500);
  const IdleCost idle = MeasureIdle(bridge.pid, bridge.pty, seconds);
  for (int fd : clients)
    if (fd >= 0) close(fd);
  return idle;
}

IdleCost FloorIdle(const char* floor, const char* decoder, const std::string& dir, int seconds) {
  Pty pty;
  if (!pty.Open()) return IdleCost();
  const pid_t pid = SpawnOnLine({floor, "@SLAVE", decoder}, pty, dir);
  DrainFor(pty.master, 1500);
  const IdleCost idle = MeasureIdle(pid, pty, seconds);
  QuitOnLine(pty, pid);
  return idle;
}

std::vector<double> FloorKeys(const char* floor, const char* decoder, const std::string& dir,
                              int presses) {
  const std::string fifoPath = InstallLatencyDecoder(dir, decoder);
  Pty pty;
  const int fifo = open(fifoPath.c_str(), O_RDONLY | O_NONBLOCK);
  if (!pty.Open() || fifo < 0) return {};
  const pid_t pid = SpawnOnLine({floor, "@SLAVE", decoder}, pty, dir);
  std::string pending;
  DrainFor(pty.master, 300);
  std::vector<double> ms = TimeKeysToDecoder(pty, fifo, pending, presses);
  QuitOnLine(pty, pid);
  close(fifo);
  return ms;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s norvelo-bridge floor_relay latency_decoder [presses [seconds [--rows]]]\n",
            argv[0]);
    return 2;
  }
  const int presses = argc > 4 ? atoi(argv[4]) : 200;
  const int seconds = argc > 5 ? atoi(argv[5]) : 30;
  TempDir dir("norvelo-bench");
  // Idle first: the floor's decoder stamps nothing until a FIFO is named.
  const IdleCost bridgeIdle = BridgeIdle(argv[1], dir.path(), seconds);
  const IdleCost floorIdle = FloorIdle(argv[2], argv[3], dir.path(), seconds);
  const std::vector<double> bridge = KeyToSocket(argv[1], dir.path(), presses);
  const std::vector<double> floor = FloorKeys(argv[2], argv[3], dir.path(), presses);

  if (argc <= 6) PrintHeader();
  const std::string n = " (" + std::to_string(bridge.size()) + ")";
  PrintRow("bridge key -> socket, median" + n, Percentile(bridge, 0.5), Percentile(floor, 0.5),
           "ms", "within 2x the floor");
  PrintRow("bridge key -> socket, p99" + n, Percentile(bridge, 0.99), Percentile(floor, 0.99),
           "ms", "within 1.5x the floor");
  const std::string span = " (" + std::to_string(seconds) + " s)";
  PrintRow("bridge idle CPU, 5 clients" + span, bridgeIdle.cpuPercent, floorIdle.cpuPercent, "%",
           "under 0.5 %", false);
  PrintRow("bridge wake-ups/s, 5 clients" + span, bridgeIdle.wakeups, floorIdle.wakeups, "/s",
           "under 20", false);
  return bridge.empty() || bridgeIdle.cpuPercent < 0 ? 1 : 0;
}
