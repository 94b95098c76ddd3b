#include "console/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "console/clock.h"
#include "console/decoder.h"
#include "console/dispatch.h"
#include "console/display.h"
#include "console/mixer.h"
#include "console/options.h"
#include "console/receiver.h"
#include "console/serial.h"
#include "console/trace.h"

namespace {

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void SleepMs(int ms) {
  timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);
}

// Reaps the children, waiting a bounded time: a decoder that ignores both the
// QUIT line and the signal must not keep the player from ending.
void ReapChildren(pid_t first, pid_t second) {
  pid_t pending[2] = {first, second};
  for (int waited = 0;; waited += 10) {
    bool any = false;
    for (pid_t& pid : pending) {
      if (pid <= 0) continue;
      const pid_t r = waitpid(pid, nullptr, WNOHANG);
      if (r == pid || (r < 0 && errno != EINTR)) pid = -1;
      else any = true;
    }
    if (!any) return;
    if (waited >= kChildExitWaitMs) break;
    SleepMs(10);
  }
  for (pid_t pid : pending) {
    if (pid <= 0) continue;
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

class ProcessExits : public Exits {
 public:
  explicit ProcessExits(PlayerState& state) : state_(state) {}

  void QuitPlayer(int status) override {
    SendDecoderCommand(state_, "QUIT");
    kill(state_.decoderPid, SIGTERM);
    kill(state_.receiverPid, SIGTERM);
    ReapChildren(state_.decoderPid, state_.receiverPid);
    exit(status);
  }

  void KillPlayer() override {
    SendDecoderCommand(state_, "QUIT");
    kill(-state_.decoderPid, SIGKILL);
    kill(state_.receiverPid, SIGKILL);
    ReapChildren(state_.decoderPid, state_.receiverPid);
    exit(0);
  }

 private:
  PlayerState& state_;
};

[[noreturn]] void RunDecoder(int outWrite, int inRead) {
  char command[128];
  snprintf(command, sizeof command, "mpg123 -R - >&%d 2>&1 0<&%d", outWrite, inRead);
  execlp("sh", "sh", "-c", command, static_cast<char*>(nullptr));
  Trace("mpg123 exec error!\n\n");
  _exit(1);
}

// Waits until a pipe has something or the display is next due.
void WaitForWork(const PlayerState& state) {
  int timeout = 0;
  if (!state.refreshNow)
    timeout = static_cast<int>(
        TicksUntilDue(state.clock->Now(), state.lastRefresh, kRefreshIntervalMs));
  pollfd fds[2] = {{state.decoderOut, POLLIN, 0}, {state.commIn, POLLIN, 0}};
  poll(fds, 2, timeout);
}

}  // namespace

void MainLoopPass(PlayerState& state) {
  char buffer[128];
  const ssize_t got = read(state.decoderOut, buffer, sizeof buffer - 1);
  if (got > 0) {
    buffer[got] = '\0';
    HandleDecoderOutput(state, buffer, static_cast<size_t>(got));
    if (state.ended) return;
  }
  uint8_t frame[2];
  if (read(state.commIn, frame, 2) == 2) {
    DispatchKey(state, frame);
    if (state.ended) return;
  }
  RefreshDisplay(state);
}

int RunPlayer(int argc, char* argv[]) {
  if (argc < 2) {
    Trace("%s", kUsageText);
    return 1;
  }
  static PlayerState state;
  const Options options = ReadOptions(argc, argv, state.keys);
  PlaylistResult built = BuildPlaylist(options.list, options.recursive);
  if (built.exitStatus != 0) return built.exitStatus;
  state.playlist = std::move(built.playlist);
  state.trackCount = static_cast<int>(state.playlist.size());

  state.serialFd = OpenSerial(options.serport);
  if (state.serialFd < 0) {
    Trace("Unable to open %s\n\n", options.serport.c_str());
    return 1;
  }

  int comm[2], decOut[2], decIn[2];
  if (pipe(comm) != 0) {
    Trace("Unable to create comm pipe!\n\n");
    return 1;
  }
  state.commIn = comm[0];
  state.commOut = comm[1];
  SetNonBlocking(state.commIn);
  if (pipe(decOut) != 0 || pipe(decIn) != 0) {
    Trace("Unable to create mpg123 stdin/out pipe!\n\n");
    return 1;
  }
  state.decoderOut = decOut[0];
  state.decoderIn = decIn[1];
  SetNonBlocking(state.decoderOut);
  SetNonBlocking(state.decoderIn);

  state.receiverPid = fork();
  if (state.receiverPid < 0) {
    Trace("Unable to create RX process!\n\n");
    return 1;
  }
  if (state.receiverPid == 0) RXthread(state.serialFd, state.commOut);

  state.decoderPid = fork();
  if (state.decoderPid < 0) {
    Trace("Unable to create mpg123 process!\n\n");
    // The receiver already runs; it must not outlive the player.
    kill(state.receiverPid, SIGTERM);
    waitpid(state.receiverPid, nullptr, 0);
    return 1;
  }
  if (state.decoderPid == 0) RunDecoder(decOut[1], decIn[0]);

  static WallClock clock;
  static OssMixer mixer;
  static ProcessExits exits(state);
  state.clock = &clock;
  state.mixer = &mixer;
  state.exits = &exits;
  for (;;) {
    MainLoopPass(state);
    WaitForWork(state);
  }
}
