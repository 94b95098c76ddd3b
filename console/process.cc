#include "console/process.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "console/children.h"
#include "console/clock.h"
#include "console/engines.h"
#include "console/events.h"
#include "console/dispatch.h"
#include "console/display.h"
#include "console/mixer.h"
#include "console/options.h"
#include "console/player.h"
#include "console/playlist.h"
#include "console/receiver.h"
#include "console/resume.h"
#include "posix/serial.h"
#include "posix/trace.h"
#include "posix/display_charset.h"
#include "posix/posix.h"
#include "posix/signals.h"

namespace {

// Reads of an ended engine's output before it is started again: as much as a
// pipe holds, so that a process that fills it and ends cannot hold the loop.
constexpr int kDrainPasses = 600;

// Waits at most ms for every process below the player to end, the decoder
// behind its shell included (the player is its subreaper).
bool AllEndedWithin(int ms) { return ReapWithin(-1, ms); }

// Where the player is, for its state file. The volume is kept where the player
// owns it, the engine's own; a system mixer keeps its own level.
PlayPoint PlayPointOf(const PlayerState& state) {
  const Transport& transport = state.transport;
  PlayPoint point;
  point.entry = transport.track;
  if (transport.track >= 0 && transport.track < transport.trackCount())
    point.path = transport.playlist[static_cast<size_t>(transport.track)];
  point.position = state.now.elapsedSeconds;
  point.state = !transport.playing  ? PlayState::kStopped
                : transport.paused ? PlayState::kPaused
                                   : PlayState::kPlaying;
  if (state.engineMixer != nullptr) point.volume = state.engineMixer->GetVolume();
  point.muted = state.remote.muted;
  point.savedVolume = state.remote.savedVolume;
  return point;
}

// At start-up with a state file: where the first ready report carries on,
// and the mute (and the engine's own volume) as they were.
void Resume(PlayerState& state, ResumeKeeper& keeper) {
  PlayPoint point;
  int entry = -1;
  if (!keeper.Resume(state.transport.playlist, point, entry)) return;
  state.now.resumeOnReady = ResumeAt{entry, point.position, point.state};
  state.remote.muted = point.muted;
  state.remote.savedVolume = static_cast<uint8_t>(point.savedVolume);
  if (state.engineMixer != nullptr && point.volume >= 0)
    state.engineMixer->SetVolume(point.muted ? 0 : point.volume);
}

// The running player: its state, its children and the ways it ends.
class Spine {
 public:
  Spine(PlayerState& state, int receiverLine)
      : state_(state), engine_(*state.engine), receiver_(receiverLine, state.line.serport) {}

  // Starts the receiver and the engine; false (message printed, nothing
  // left) when one cannot be started.
  bool StartChildren();
  // The state file's keeper, from the start of the loop on.
  void KeepStateWith(ResumeKeeper* keeper) { keeper_ = keeper; }
  [[noreturn]] void Loop();

 private:
  Next Pass();
  Next ServiceEngine();
  Next WaitForWork();
  Next ChildrenEnded();
  Next RestartEngine();
  [[noreturn]] void End(const Next& next);
  [[noreturn]] void EndBySignal(int sig);
  void QuitChildren();
  void StopEngine(bool force);

  PlayerState& state_;
  Engine& engine_;
  ReceiverProcess receiver_;
  RestartBound receiverBound_, engineBound_;
  EngineEvents events_;
  ResumeKeeper* keeper_ = nullptr;
  // Until the engine's first ready report, the player is not where it will
  // be: nothing is written over the state it is to resume.
  bool ready_ = false;
};

bool Spine::StartChildren() {
  if (!receiver_.CreatePipe()) return false;
  // What an engine's process starts of its own must come back here to be
  // reaped when that process goes first.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  if (!receiver_.Start()) return false;
  if (!engine_.Start()) {
    // The receiver already runs; it must not outlive the player.
    receiver_.Stop(true);
    AllEndedWithin(kChildExitWaitMs);
    return false;
  }
  return true;
}

Next Spine::ServiceEngine() {
  events_.clear();
  engine_.Service(events_);
  for (const EngineEvent& event : events_) {
    if (event.kind == EngineEvent::kReady) ready_ = true;
    // Reports after one that ends the player are not looked at.
    const Next next =
        event.kind == EngineEvent::kEnded ? RestartEngine() : HandleEngineEvent(state_, event);
    if (!next.GoesOn()) return next;
  }
  return Next::GoOn();
}

// One pass of the main loop: the engine's reports, one key, the display.
Next Spine::Pass() {
  const Next reported = ServiceEngine();
  if (!reported.GoesOn()) return reported;
  uint8_t frame[2];
  if (read(receiver_.commIn(), frame, 2) == 2) {
    const Next next = DispatchKey(state_, frame);
    if (!next.GoesOn()) return next;
  }
  ReopenIfLost(state_.line, state_.clock->Now());
  RefreshDisplay(state_);
  // Last, so that a key's command and frame never wait for the disk.
  if (keeper_ != nullptr && ready_) keeper_->Note(PlayPointOf(state_), state_.clock->Now());
  return Next::GoOn();
}

// Waits until the engine or the comm pipe has something, a signal came, or
// the engine or the display is next due (the display once the line is free
// for it).
Next Spine::WaitForWork() {
  int timeout = static_cast<int>(DisplayWaitMs(state_));
  const int engineMs = engine_.WaitMs();
  if (engineMs >= 0 && engineMs < timeout) timeout = engineMs;
  std::vector<pollfd> fds = {{receiver_.commIn(), POLLIN, 0}, {SignalPipeFd(), POLLIN, 0}};
  for (int fd : engine_.WaitFds()) fds.push_back({fd, POLLIN, 0});
  poll(fds.data(), fds.size(), timeout);
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
  Child* process = engine_.Process();
  // What it wrote before it ended says how it ended (a decoder that never
  // found a sound output is not started again): that is read first, and its
  // end of file then restarts it as usual.
  for (int pass = 0; pass < kDrainPasses && process != nullptr && process->Ended() &&
                     !engine_.WaitFds().empty();
       ++pass) {
    const Next next = ServiceEngine();
    if (!next.GoesOn()) return next;
    process = engine_.Process();
  }
  if (process != nullptr && process->Ended()) {
    const Next next = RestartEngine();
    if (!next.GoesOn()) return next;
  }
  if (receiver_.Ended())
    return RestartChild(receiver_, receiverBound_, "RX", state_.clock->Now());
  return Next::GoOn();
}

Next Spine::RestartEngine() {
  Child* process = engine_.Process();
  if (process == nullptr) return Next::GoOn();
  const Next next = RestartChild(*process, engineBound_, engine_.Name(), state_.clock->Now());
  EngineRestarted(state_.now, state_.transport);
  return next;
}

void Spine::Loop() {
  for (;;) {
    Next next = Pass();
    if (next.GoesOn()) next = WaitForWork();
    if (!next.GoesOn()) End(next);
  }
}

void Spine::StopEngine(bool force) {
  if (Child* process = engine_.Process()) process->Stop(force);
}

// An ending in order: the engine is told to quit, the children are asked to
// end, and whatever is still there after the wait is killed. The waits are
// bounded: a decoder that ignores both the line and the signal must neither
// keep the player from ending nor be left behind.
void Spine::QuitChildren() {
  engine_.Quit();
  receiver_.Stop(false);
  // The decoder is its shell now: a signal at once would cut its QUIT line.
  if (AllEndedWithin(kQuitLineGraceMs)) return;
  StopEngine(false);
  if (AllEndedWithin(kChildExitWaitMs)) return;
  StopEngine(true);
  receiver_.Stop(true);
  AllEndedWithin(kChildExitWaitMs);
}

void Spine::End(const Next& next) {
  if (keeper_ != nullptr && ready_) keeper_->Final(PlayPointOf(state_));
  if (next.kind != Next::kKill) {
    QuitChildren();
    exit(next.status);
  }
  // A kill: the decoder gets a moment to end on its QUIT line, the way a
  // decoder that is working does; then its whole group is killed.
  engine_.Quit();
  receiver_.Stop(true);
  if (!AllEndedWithin(kQuitLineGraceMs)) {
    StopEngine(true);
    AllEndedWithin(kChildExitWaitMs);
  }
  exit(0);
}

void Spine::EndBySignal(int sig) {
  TraceEndingSignal(sig);
  if (keeper_ != nullptr && ready_) keeper_->Final(PlayPointOf(state_));
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
  const Options options = ReadOptions(argc, argv);
  switch (options.action) {
    case Options::Action::kHelp: Trace("%s", kUsageText); return 0;
    case Options::Action::kVersion: Trace("%s", kVersionText); return 0;
    case Options::Action::kFail: Trace("%s", options.message.c_str()); return 1;
    case Options::Action::kRun: break;
  }
  for (const std::string& option : options.unknown)
    Trace("Unknown option %s ignored\n", Printable(option).c_str());
  LoadMappings(options, state.remote.keys);
  state.display.charset = DisplayCharsetFromEnvironment();
  if (PlaysOwnList(options.player) || !KnownPlayer(options.player)) {
    PlaylistResult built =
        BuildPlaylist(options.list, options.recursive, ScannedNames(options.player));
    if (built.exitStatus != 0) return built.exitStatus;
    state.transport.playlist = std::move(built.playlist);
    if (!built.notice.empty()) ShowTitle(state.display, built.notice);
  } else if (!options.list.empty()) {
    // The engine's list is its own: a list given as well is a mistake.
    Trace("%s", kUsageText);
    return 1;
  }

  state.line.serport = options.serport;
  // Two descriptions of the line: the receiver's, whose flags it sets for its
  // input notifications, and the main process's own for the display, which
  // stays non-blocking so that a line that stops draining cannot stop keys.
  SetLineDescriptions(2);
  const int receiverLine = OpenSerialAtStart(options.serport);
  if (receiverLine < 0) return 1;
  state.line.serialFd = OpenSerialAtStart(options.serport);
  if (state.line.serialFd < 0) return 1;
  static std::unique_ptr<Engine> engine = MakeEngine(options.player, state.transport.playlist);
  if (!engine) return 1;
  state.engine = engine.get();
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
  static ChosenMixer mixer = ChooseMixer(*engine);
  Trace("Mixer: %s\n", mixer.name.c_str());
  state.mixer = mixer.mixer.get();
  state.engineMixer = mixer.engine;
  if (!options.stateFile.empty()) {
    static StateFile file(options.stateFile);
    static ResumeKeeper keeper(file, ListIdentity(options.list, options.recursive));
    Resume(state, keeper);
    spine.KeepStateWith(&keeper);
  }
  spine.Loop();
}
