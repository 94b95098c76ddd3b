#include "console/process.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>

#include "console/children.h"
#include "console/clock.h"
#include "console/decoder.h"
#include "console/dispatch.h"
#include "console/display.h"
#include "console/mixer.h"
#include "console/options.h"
#include "console/player.h"
#include "console/playlist.h"
#include "console/receiver.h"
#include "posix/serial.h"
#include "posix/trace.h"
#include "posix/display_charset.h"
#include "posix/posix.h"
#include "posix/signals.h"

namespace {

// Waits at most ms for every process below the player to end, the decoder
// behind its shell included (the player is its subreaper).
bool AllEndedWithin(int ms) { return ReapWithin(-1, ms); }

// The running player: its state, its two children and the ways it ends.
class Spine {
 public:
  Spine(PlayerState& state, int receiverLine)
      : state_(state), receiver_(receiverLine, state.line.serport) {}

  // Starts both children; false (message printed, nothing left) when one
  // cannot be started.
  bool StartChildren();
  [[noreturn]] void Loop();

 private:
  Next Pass();
  Next WaitForWork();
  Next ChildrenEnded();
  Next RestartDecoder();
  [[noreturn]] void End(const Next& next);
  [[noreturn]] void EndBySignal(int sig);
  void QuitChildren();

  PlayerState& state_;
  ReceiverProcess receiver_;
  DecoderProcess decoder_;
  RestartBound receiverBound_, decoderBound_;
};

bool Spine::StartChildren() {
  if (!receiver_.CreatePipe()) return false;
  // The shell may run the decoder as a child of its own; when the shell goes
  // first, the decoder must come back here to be reaped.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  if (!receiver_.Start()) return false;
  if (!decoder_.Start()) {
    // The receiver already runs; it must not outlive the player.
    receiver_.Stop(true);
    AllEndedWithin(kChildExitWaitMs);
    return false;
  }
  DecoderStarted(state_.decoder, decoder_.input());
  return true;
}

// One pass of the main loop: decoder output, one key, the display.
Next Spine::Pass() {
  char buffer[128];
  const ssize_t got = read(decoder_.output(), buffer, sizeof buffer - 1);
  if (got > 0) {
    buffer[got] = '\0';
    const Next next = HandleDecoderOutput(state_, buffer, static_cast<size_t>(got));
    if (!next.GoesOn()) return next;
  } else if (got == 0) {
    // End of file: nothing is left to write to it, so the decoder has ended.
    const Next next = RestartDecoder();
    if (!next.GoesOn()) return next;
  }
  uint8_t frame[2];
  if (read(receiver_.commIn(), frame, 2) == 2) {
    const Next next = DispatchKey(state_, frame);
    if (!next.GoesOn()) return next;
  }
  ReopenIfLost(state_.line, state_.clock->Now());
  RefreshDisplay(state_);
  return Next::GoOn();
}

// Waits until a pipe has something, a signal came or the display is next due
// and the line free for it.
Next Spine::WaitForWork() {
  const int timeout = static_cast<int>(DisplayWaitMs(state_));
  pollfd fds[3] = {{decoder_.output(), POLLIN, 0},
                   {receiver_.commIn(), POLLIN, 0},
                   {SignalPipeFd(), POLLIN, 0}};
  poll(fds, 3, timeout);
  bool childEnded = false;
  int ending = 0;
  while (const int sig = TakeSignal()) {
    if (sig == SIGCHLD)
      childEnded = true;
    else if (ending == 0)
      ending = sig;
  }
  if (ending != 0) EndBySignal(ending);
  return childEnded ? ChildrenEnded() : Next::GoOn();
}

Next Spine::ChildrenEnded() {
  if (decoder_.Ended()) {
    const Next next = RestartDecoder();
    if (!next.GoesOn()) return next;
  }
  if (receiver_.Ended())
    return RestartChild(receiver_, receiverBound_, "RX", state_.clock->Now());
  return Next::GoOn();
}

Next Spine::RestartDecoder() {
  const Next next = RestartChild(decoder_, decoderBound_, "mpg123", state_.clock->Now());
  DecoderRestarted(state_, decoder_.input());
  return next;
}

void Spine::Loop() {
  for (;;) {
    Next next = Pass();
    if (next.GoesOn()) next = WaitForWork();
    if (!next.GoesOn()) End(next);
  }
}

// QuitPlayer's way: the decoder is told to quit, both children are asked to
// end, and whatever is still there after the wait is killed. The waits are
// bounded: a decoder that ignores both the line and the signal must neither
// keep the player from ending nor be left behind.
void Spine::QuitChildren() {
  SendDecoderCommand(state_.decoder, "QUIT");
  decoder_.Stop(false);
  receiver_.Stop(false);
  if (AllEndedWithin(kChildExitWaitMs)) return;
  decoder_.Stop(true);
  receiver_.Stop(true);
  AllEndedWithin(kChildExitWaitMs);
}

void Spine::End(const Next& next) {
  if (next.kind != Next::kKill) {
    QuitChildren();
    exit(next.status);
  }
  // KillPlayer: the decoder gets a moment to end on its QUIT line, the way a
  // decoder that is working does; then its whole group is killed.
  SendDecoderCommand(state_.decoder, "QUIT");
  receiver_.Stop(true);
  if (!AllEndedWithin(kQuitLineGraceMs)) {
    decoder_.Stop(true);
    AllEndedWithin(kChildExitWaitMs);
  }
  exit(0);
}

void Spine::EndBySignal(int sig) {
  TraceEndingSignal(sig);
  QuitChildren();
  RaiseDefault(sig);
}

}  // namespace

int RunPlayer(int argc, char* argv[]) {
  // Else the serial line or a pipe could take a closed one's place, and the
  // traces would go there.
  OpenStandardDescriptors();
  if (argc < 2) {
    Trace("%s", kUsageText);
    return 1;
  }
  static PlayerState state;
  const Options options = ReadOptions(argc, argv, state.remote.keys);
  state.display.charset = DisplayCharsetFromEnvironment();
  PlaylistResult built = BuildPlaylist(options.list, options.recursive);
  if (built.exitStatus != 0) return built.exitStatus;
  state.transport.playlist = std::move(built.playlist);

  state.line.serport = options.serport;
  // Two descriptions of the line: the receiver's, whose flags it sets for its
  // input notifications, and the main process's own for the display, which
  // stays non-blocking so that a line that stops draining cannot stop keys.
  SetLineDescriptions(2);
  const int receiverLine = OpenSerialAtStart(options.serport);
  if (receiverLine < 0) return 1;
  state.line.serialFd = OpenSerialAtStart(options.serport);
  if (state.line.serialFd < 0) return 1;
  if (!FoundInPath("mpg123")) {
    Trace("Unable to find mpg123 in PATH!\n\n");
    return 1;
  }
  // SIGTERM, SIGINT and SIGHUP end the player in order; SIGCHLD tells that a
  // child ended.
  if (!InstallSignalPipe({SIGTERM, SIGINT, SIGHUP, SIGCHLD})) {
    Trace("Unable to create signal pipe!\n\n");
    return 1;
  }

  static WallClock clock;
  state.clock = &clock;
  static Spine spine(state, receiverLine);
  if (!spine.StartChildren()) return 1;
  // Chosen once the children run, so that none of them starts out holding a
  // connection to the sound server.
  static ChosenMixer mixer =
      ChooseMixer([](const std::string& line) { SendDecoderCommand(state.decoder, line); });
  Trace("Mixer: %s\n", mixer.name.c_str());
  state.mixer = mixer.mixer.get();
  state.decoder.mixer = mixer.decoder;
  spine.Loop();
}
