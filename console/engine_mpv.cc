#include "console/engine_mpv.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "posix/posix.h"
#include "posix/trace.h"

namespace {

// The socket takes far more than a burst of key presses writes; a command
// that still finds it full after this long is for an mpv that hangs.
constexpr size_t kMaxPending = 1 << 16;
constexpr int kRetryMs = 20;

}  // namespace

std::vector<std::string> MpvArguments(int fd) {
  return {"--no-config",  // neither the user's files nor the system's
          "--no-video",
          "--no-terminal",
          "--idle=yes",
          "--load-scripts=no",
          "--ytdl=no",
          "--resume-playback=no",
          "--save-position-on-quit=no",
          "--input-default-bindings=no",
          "--input-ipc-client=fd://" + std::to_string(fd)};
}

MpvEngine::~MpvEngine() { CloseChannel(); }

void MpvEngine::CloseChannel() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  open_ = false;
}

bool MpvEngine::Start() {
  CloseChannel();
  pending_.clear();
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    Trace("Unable to create mpv channel!\n\n");
    return false;
  }
  ChildSetup setup;
  setup.keep = {pair[1]};
  setup.ownGroup = true;
  const pid_t pid = process_.Start(setup);
  if (pid == 0) {
    // Its end must survive the exec; every other descriptor is gone already.
    fcntl(pair[1], F_SETFD, fcntl(pair[1], F_GETFD) & ~FD_CLOEXEC);
    UseUtf8CharacterType();
    std::vector<std::string> args = {"mpv"};
    for (std::string& arg : MpvArguments(pair[1])) args.push_back(std::move(arg));
    ExecOrExit(args, "norvelo");
  }
  close(pair[1]);
  if (pid < 0) {
    close(pair[0]);
    Trace("Unable to create mpv process!\n\n");
    return false;
  }
  fd_ = pair[0];
  SetNonBlocking(fd_);
  open_ = true;
  Send(channel_.Begin());
  return true;
}

std::vector<int> MpvEngine::WaitFds() const {
  // An ended channel reads as ready for ever; it waits for the restart.
  if (!open_) return {};
  return {fd_};
}

int MpvEngine::WaitMs() { return pending_.empty() || !open_ ? -1 : kRetryMs; }

void MpvEngine::Service(EngineEvents& events) {
  Flush();
  if (!open_) return;
  std::string out;
  char buffer[4096];
  // Bounded, so that a chatty mpv cannot keep keys and the display waiting.
  for (int reads = 0; reads < 16; ++reads) {
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got > 0) {
      channel_.Feed(buffer, static_cast<size_t>(got), events, out);
      continue;
    }
    if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      open_ = false;
      events.push_back(EngineEvent::Of(EngineEvent::kEnded));
    }
    break;
  }
  Send(out);
}

void MpvEngine::Send(const std::string& lines) {
  if (lines.empty() || !open_) return;
  if (pending_.size() + lines.size() > kMaxPending) return;  // mpv hangs; dropped whole
  pending_ += lines;
  Flush();
}

void MpvEngine::Flush() {
  while (!pending_.empty() && open_) {
    const ssize_t sent =
        send(fd_, pending_.data(), pending_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      pending_.erase(0, static_cast<size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN) pending_.clear();  // gone: its end is read soon
    return;
  }
}

void MpvEngine::Load(int entry) {
  if (entry < 0 || entry >= static_cast<int>(list_.size())) return;
  Send(channel_.Load(list_[static_cast<size_t>(entry)]));
}

void MpvEngine::TogglePause() { Send(channel_.TogglePause()); }
void MpvEngine::Stop() { Send(channel_.Stop()); }
void MpvEngine::JumpFrames(int frames) { Send(channel_.JumpFrames(frames)); }
void MpvEngine::SeekTo(double seconds) { Send(channel_.SeekTo(seconds)); }

bool MpvEngine::SetVolume(int volume) {
  Send(channel_.SetVolume(volume < 0 ? 0 : volume > 100 ? 100 : volume));
  return true;
}

void MpvEngine::Quit() { Send(channel_.Quit()); }
