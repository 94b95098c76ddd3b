#include "console/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// Children of this process that are still running (orphaned grandchildren
// come here too, as the player is their subreaper).
std::vector<pid_t> ListChildren() {
  std::vector<pid_t> children;
  DIR* proc = opendir("/proc");
  if (!proc) return children;
  const pid_t self = getpid();
  while (dirent* entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(atoi(entry->d_name));
    if (pid <= 0) continue;
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE* file = fopen(path, "r");
    if (!file) continue;
    char text[512];
    const size_t n = fread(text, 1, sizeof text - 1, file);
    fclose(file);
    text[n] = '\0';
    const char* close = strrchr(text, ')');
    int parent = 0;
    char state = 0;
    if (close && sscanf(close + 1, " %c %d", &state, &parent) == 2 && parent == self)
      children.push_back(pid);
  }
  closedir(proc);
  return children;
}

// True when no child is left; reaps those that have ended.
bool ReapEnded() {
  for (;;) {
    const pid_t pid = waitpid(-1, nullptr, WNOHANG);
    if (pid > 0) continue;
    return pid < 0 && errno == ECHILD;
  }
}

// Reaps every child, the decoder behind its shell included, waiting a bounded
// time: a decoder that ignores both the QUIT line and the signal must not keep
// the player from ending, nor be left behind.
void ReapChildren() {
  for (int waited = 0; !ReapEnded(); waited += 10) {
    if (waited >= kChildExitWaitMs)
      for (pid_t pid : ListChildren()) kill(pid, SIGKILL);
    if (waited >= 2 * kChildExitWaitMs) return;
    SleepMs(10);
  }
}

[[noreturn]] void QuitPlayer(PlayerState& state, int status) {
  SendDecoderCommand(state, "QUIT");
  kill(state.decoderPid, SIGTERM);
  kill(state.receiverPid, SIGTERM);
  ReapChildren();
  exit(status);
}

[[noreturn]] void KillPlayer(PlayerState& state) {
  SendDecoderCommand(state, "QUIT");
  kill(-state.decoderPid, SIGKILL);
  kill(state.receiverPid, SIGKILL);
  ReapChildren();
  exit(0);
}

// The ending a handler asked for.
void Follow(PlayerState& state, const Next& next) {
  if (next.kind == Next::kQuit) QuitPlayer(state, next.status);
  if (next.kind == Next::kKill) KillPlayer(state);
}

[[noreturn]] void RunDecoder(int outWrite, int inRead) {
  // The shell takes only single-digit descriptors in a redirection, and a
  // player started with many descriptors open gets pipe ends above 9.
  if (outWrite > 9 || inRead > 9) {
    const int out = dup(outWrite), in = dup(inRead);
    outWrite = dup2(out, 8);
    inRead = dup2(in, 9);
    close(out);
    close(in);
  }
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

// The line went away (a USB adapter pulled out); open it again when it is back.
// The new description is the main process's own, so it stays non-blocking.
static void ReopenSerial(PlayerState& state) {
  const uint32_t now = state.clock->Now();
  if (now - state.lastReopenTry < kReopenIntervalMs) return;
  state.lastReopenTry = now;
  const int fd = OpenSerial(state.serport);
  if (fd < 0) return;
  close(state.serialFd);
  state.serialFd = fd;
  state.serialLost = 0;
}

// One pass of the main loop: decoder output, one key, the display.
static void MainLoopPass(PlayerState& state) {
  char buffer[128];
  const ssize_t got = read(state.decoderOut, buffer, sizeof buffer - 1);
  if (got > 0) {
    buffer[got] = '\0';
    Follow(state, HandleDecoderOutput(state, buffer, static_cast<size_t>(got)));
  }
  uint8_t frame[2];
  if (read(state.commIn, frame, 2) == 2) Follow(state, DispatchKey(state, frame));
  if (state.serialLost) ReopenSerial(state);
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

  state.serport = options.serport;
  std::string refusal;
  state.serialFd = OpenSerial(options.serport, &refusal);
  if (state.serialFd < 0) {
    if (refusal.empty())
      Trace("Unable to open %s\n\n", options.serport.c_str());
    else
      Trace("Unable to use %s: %s\n\n", options.serport.c_str(), refusal.c_str());
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

  // The shell may run the decoder as a child of its own; when the shell goes
  // first at exit, the decoder must come back here to be reaped.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  state.receiverPid = fork();
  if (state.receiverPid < 0) {
    Trace("Unable to create RX process!\n\n");
    return 1;
  }
  if (state.receiverPid == 0) RXthread(state.serialFd, state.commOut, options.serport);

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
  state.clock = &clock;
  state.mixer = &mixer;
  for (;;) {
    MainLoopPass(state);
    WaitForWork(state);
  }
}
