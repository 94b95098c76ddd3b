#include "console/engine_mpd.h"

#include <mpd/async.h>
#include <mpd/client.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include <algorithm>

#include "console/title.h"
#include "posix/posix.h"

namespace {

// The server is away: it is looked for at most this often.
constexpr int kRetryMs = 400;
// A connection that is not made and greeted within this is given up. A
// command waits a second at most (the library's timeouts count whole
// seconds).
constexpr uint64_t kConnectMs = 1000;
constexpr int kConnectingLookMs = 20;
constexpr unsigned kCommandMs = 1000;
constexpr unsigned kDefaultPort = 6600;
// What the player shows of the server.
constexpr unsigned kIdleMask = MPD_IDLE_PLAYER | MPD_IDLE_MIXER | MPD_IDLE_QUEUE;
constexpr float kJumpSeconds = 5.0f;

constexpr char kAwayText[] = "MPD not reachable";

PlayState StateOf(enum mpd_state state) {
  switch (state) {
    case MPD_STATE_PLAY:
      return PlayState::kPlaying;
    case MPD_STATE_PAUSE:
      return PlayState::kPaused;
    default:
      return PlayState::kStopped;
  }
}

std::string Tag(const mpd_song* song, enum mpd_tag_type type) {
  const char* value = mpd_song_get_tag(song, type, 0);
  return value ? value : "";
}

std::string TitleOf(const mpd_song* song) {
  if (song == nullptr) return "";
  std::string title =
      JoinTitle(Tag(song, MPD_TAG_ARTIST), Tag(song, MPD_TAG_ALBUM), Tag(song, MPD_TAG_TITLE));
  if (!title.empty()) return title;
  const std::string uri = mpd_song_get_uri(song);
  return uri.find("://") != std::string::npos ? uri : NameOfPath(uri);
}

EngineEvent EventOf(EngineEvent::Kind kind) { return EngineEvent::Of(kind); }

}  // namespace

MpdEngine::~MpdEngine() {
  if (connection_) mpd_connection_free(connection_);
}

bool MpdEngine::Start() {
  retryAtMs_ = MonotonicMs();
  return true;
}

std::vector<int> MpdEngine::WaitFds() const {
  if (phase_ == Phase::kGreeting) return {socket_.Get()};
  if (connection_ && idling_) return {mpd_connection_get_fd(connection_)};
  return {};
}

int MpdEngine::WaitMs() {
  if (quit_) return -1;
  const uint64_t now = MonotonicMs();
  // A connection under way is looked at a few times in its short life.
  if (phase_ == Phase::kConnecting) return kConnectingLookMs;
  if (phase_ == Phase::kGreeting)
    return deadlineMs_ > now ? static_cast<int>(deadlineMs_ - now) : 0;
  if (!connection_) {
    if (!away_) return 0;  // the player is told at once
    return retryAtMs_ > now ? static_cast<int>(retryAtMs_ - now) : 0;
  }
  if (refreshDue_ || !idling_) return 0;
  if (status_.state != PlayState::kPlaying) return -1;
  // Due when the shown second moves on.
  const double next = static_cast<int>(ElapsedNow()) + 1;
  return std::max(1, static_cast<int>((next - ElapsedNow()) * 1000.0) + 1);
}

void MpdEngine::Service(EngineEvents& events) {
  if (quit_) return;
  if (phase_ == Phase::kAway && MonotonicMs() >= retryAtMs_) BeginConnect();
  if (phase_ == Phase::kConnecting) GoOnConnecting(events);
  else if (phase_ == Phase::kGreeting) ReadGreeting(events);
  if (phase_ == Phase::kConnecting || phase_ == Phase::kGreeting) return;
  if (!connection_) {
    if (!away_) events.push_back(EngineEvent::Of(EngineEvent::kAway, kAwayText));
    away_ = true;
    return;
  }
  if (idling_) {
    // Only an answer that is there is read: the loop may have come for the
    // elapsed time alone.
    pollfd ready = {mpd_connection_get_fd(connection_), POLLIN, 0};
    if (poll(&ready, 1, 0) > 0) {
      idling_ = false;
      if (mpd_recv_idle(connection_, false) == 0 &&
          mpd_connection_get_error(connection_) != MPD_ERROR_SUCCESS)
        return Lose();
      refreshDue_ = true;
    }
  }
  // The server takes no other command while it idles.
  if (refreshDue_ && LeaveIdle()) Refresh(events);
  if (!connection_) return;
  if (!idling_) EnterIdle();
  const int shown = static_cast<int>(ElapsedNow());
  if (status_.state == PlayState::kPlaying && shown != elapsedShown_) {
    elapsedShown_ = shown;
    EngineEvent event = EventOf(EngineEvent::kElapsed);
    event.seconds = ElapsedNow();
    events.push_back(event);
  }
}

void MpdEngine::BeginConnect() {
  retryAtMs_ = MonotonicMs() + kRetryMs;
  deadlineMs_ = MonotonicMs() + kConnectMs;
  greeting_.clear();
  // No host and no port: MPD_HOST and MPD_PORT as mpc reads them.
  mpd_settings* settings = mpd_settings_new(nullptr, 0, 0, nullptr, nullptr);
  if (settings == nullptr) return;
  const char* given = mpd_settings_get_host(settings);
  const std::string host = given ? given : "localhost";
  const unsigned port = mpd_settings_get_port(settings);
  mpd_settings_free(settings);

  if (host[0] == '/' || host[0] == '@') {
    // A socket path; "@name" is one of the abstract namespace.
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (host.size() >= sizeof address.sun_path) return;
    memcpy(address.sun_path, host.data(), host.size());
    if (host[0] == '@') address.sun_path[0] = '\0';
    socket_.Reset(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + host.size());
    if (!socket_.Valid() ||
        (connect(socket_.Get(), reinterpret_cast<sockaddr*>(&address), size) != 0 &&
         errno != EINPROGRESS && errno != EAGAIN))
      return socket_.Reset();
  } else {
    addrinfo hints = {};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port ? port : kDefaultPort).c_str(), &hints,
                    &found) != 0)
      return;
    for (addrinfo* at = found; at && !socket_.Valid(); at = at->ai_next) {
      socket_.Reset(socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                           at->ai_protocol));
      if (!socket_.Valid()) continue;
      // The noidle before a key's command follows the idle at once: waiting
      // for the idle's acknowledgement (Nagle's rule) would cost a delayed
      // ACK's time per key.
      const int one = 1;
      setsockopt(socket_.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      if (connect(socket_.Get(), at->ai_addr, at->ai_addrlen) != 0 && errno != EINPROGRESS)
        socket_.Reset();
    }
    freeaddrinfo(found);
    if (!socket_.Valid()) return;
  }
  phase_ = Phase::kConnecting;
}

void MpdEngine::GoOnConnecting(EngineEvents& events) {
  pollfd writable = {socket_.Get(), POLLOUT, 0};
  if (poll(&writable, 1, 0) <= 0) {
    if (MonotonicMs() >= deadlineMs_) Lose();
    return;
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(socket_.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
    return Lose();
  phase_ = Phase::kGreeting;
  ReadGreeting(events);
}

void MpdEngine::ReadGreeting(EngineEvents& events) {
  char buffer[256];
  for (;;) {
    const ssize_t got = recv(socket_.Get(), buffer, sizeof buffer, 0);
    if (got > 0) {
      greeting_.append(buffer, static_cast<size_t>(got));
      // The greeting is the server's first line; it says nothing more before
      // a command.
      const size_t end = greeting_.find('\n');
      if (end != std::string::npos) {
        greeting_.resize(end);
        return Connected(events);
      }
      if (greeting_.size() > sizeof buffer) return Lose();
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && MonotonicMs() < deadlineMs_)
      return;
    return Lose();
  }
}

void MpdEngine::Connected(EngineEvents& events) {
  mpd_async* async = mpd_async_new(socket_.Get());
  if (async == nullptr) return Lose();
  socket_.Release();
  connection_ = mpd_connection_new_async(async, greeting_.c_str());
  if (connection_ == nullptr) {
    mpd_async_free(async);
    return Lose();
  }
  if (mpd_connection_get_error(connection_) != MPD_ERROR_SUCCESS) return Lose();
  mpd_connection_set_timeout(connection_, kCommandMs);
  mpd_settings* settings = mpd_settings_new(nullptr, 0, 0, nullptr, nullptr);
  const char* password = settings ? mpd_settings_get_password(settings) : nullptr;
  const bool refused = password && !mpd_run_password(connection_, password);
  if (settings) mpd_settings_free(settings);
  if (refused) return Lose();
  phase_ = Phase::kConnected;
  idling_ = false;
  away_ = false;
  told_ = false;
  events.push_back(EventOf(EngineEvent::kReady));
  refreshDue_ = true;
}

void MpdEngine::Lose() {
  if (connection_) mpd_connection_free(connection_);
  connection_ = nullptr;
  socket_.Reset();
  phase_ = Phase::kAway;
  idling_ = false;
  retryAtMs_ = MonotonicMs() + kRetryMs;
}

void MpdEngine::Refresh(EngineEvents& events) {
  refreshDue_ = false;
  mpd_status* status = mpd_run_status(connection_);
  if (status == nullptr) return Lose();
  mpd_song* song = mpd_run_current_song(connection_);
  if (song == nullptr && mpd_connection_get_error(connection_) != MPD_ERROR_SUCCESS) {
    mpd_status_free(status);
    return Lose();
  }
  Status now;
  now.state = StateOf(mpd_status_get_state(status));
  now.entry = std::max(0, mpd_status_get_song_pos(status));
  now.length = static_cast<int>(mpd_status_get_queue_length(status));
  now.volume = mpd_status_get_volume(status);
  now.title = TitleOf(song);
  elapsed_ = mpd_status_get_elapsed_ms(status) / 1000.0;
  elapsedAtMs_ = MonotonicMs();
  mpd_status_free(status);
  if (song) mpd_song_free(song);

  if (!told_ || now.entry != status_.entry) {
    EngineEvent event = EventOf(EngineEvent::kEntry);
    event.entry = now.entry;
    events.push_back(event);
  }
  if (!told_ || now.entry != status_.entry || now.title != status_.title)
    events.push_back(EngineEvent::Of(EngineEvent::kTitle, now.title));
  if (!told_ || now.state != status_.state) {
    EngineEvent event = EventOf(EngineEvent::kState);
    event.state = now.state;
    events.push_back(event);
  }
  if ((!told_ || now.volume != status_.volume) && now.volume >= 0) {
    EngineEvent event = EventOf(EngineEvent::kVolume);
    event.volume = now.volume;
    events.push_back(event);
  }
  EngineEvent elapsed = EventOf(EngineEvent::kElapsed);
  elapsed.seconds = elapsed_;
  events.push_back(elapsed);
  elapsedShown_ = static_cast<int>(elapsed_);
  status_ = now;
  told_ = true;
}

void MpdEngine::EnterIdle() {
  if (!mpd_send_idle_mask(connection_, static_cast<enum mpd_idle>(kIdleMask))) return Lose();
  idling_ = true;
}

bool MpdEngine::LeaveIdle() {
  if (!connection_) return false;
  if (!idling_) return true;
  idling_ = false;
  // The answer to noidle is the idle's own, with what changed meanwhile.
  if (!mpd_send_noidle(connection_)) {
    Lose();
    return false;
  }
  if (mpd_recv_idle(connection_, false) != 0) refreshDue_ = true;
  if (mpd_connection_get_error(connection_) != MPD_ERROR_SUCCESS) {
    Lose();
    return false;
  }
  return true;
}

template <typename Run>
bool MpdEngine::Command(Run run) {
  if (quit_ || !LeaveIdle()) return false;
  if (!run(connection_)) {
    if (mpd_connection_get_error(connection_) != MPD_ERROR_SERVER ||
        !mpd_connection_clear_error(connection_)) {
      Lose();
      return false;
    }
  }
  // What the command changed comes back as the next idle's answer; news
  // the noidle brought is read first.
  if (!refreshDue_) EnterIdle();
  return connection_ != nullptr;
}

double MpdEngine::ElapsedNow() const {
  if (status_.state != PlayState::kPlaying) return elapsed_;
  return elapsed_ + static_cast<double>(MonotonicMs() - elapsedAtMs_) / 1000.0;
}

void MpdEngine::Load(int entry) {
  Command([entry](mpd_connection* c) { return mpd_run_play_pos(c, static_cast<unsigned>(entry)); });
}

void MpdEngine::Play() {
  Command([](mpd_connection* c) { return mpd_run_play(c); });
}

void MpdEngine::TogglePause() {
  Command([](mpd_connection* c) { return mpd_run_toggle_pause(c); });
}

void MpdEngine::Stop() {
  Command([](mpd_connection* c) { return mpd_run_stop(c); });
}

void MpdEngine::JumpFrames(int frames) {
  const float by = frames < 0 ? -kJumpSeconds : kJumpSeconds;
  Command([by](mpd_connection* c) { return mpd_run_seek_current(c, by, true); });
}

void MpdEngine::SeekTo(double seconds) {
  const float to = static_cast<float>(std::max(0.0, seconds));
  Command([to](mpd_connection* c) { return mpd_run_seek_current(c, to, false); });
}

bool MpdEngine::Step(int by) {
  if (by == 1) return Command([](mpd_connection* c) { return mpd_run_next(c); });
  if (by == -1) return Command([](mpd_connection* c) { return mpd_run_previous(c); });
  // Further steps stop at the queue's ends.
  if (status_.length <= 0) return connection_ != nullptr;
  const int to = std::clamp(status_.entry + by, 0, status_.length - 1);
  return Command([to](mpd_connection* c) { return mpd_run_play_pos(c, static_cast<unsigned>(to)); });
}

bool MpdEngine::SetVolume(int volume) {
  if (!connection_ || status_.volume < 0) return false;
  const unsigned to = static_cast<unsigned>(std::clamp(volume, 0, 100));
  return Command([to](mpd_connection* c) { return mpd_run_set_volume(c, to); });
}

void MpdEngine::Quit() {
  // Whatever plays goes on: the connection just closes.
  quit_ = true;
  if (connection_) mpd_connection_free(connection_);
  connection_ = nullptr;
  idling_ = false;
}
