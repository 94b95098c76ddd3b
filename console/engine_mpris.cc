#include "console/engine_mpris.h"

#include <poll.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "console/title.h"
#include "posix/posix.h"

namespace {

constexpr char kBus[] = "org.freedesktop.DBus";
constexpr char kBusPath[] = "/org/freedesktop/DBus";
constexpr char kPrefix[] = "org.mpris.MediaPlayer2.";
constexpr char kPath[] = "/org/mpris/MediaPlayer2";
constexpr char kPlayer[] = "org.mpris.MediaPlayer2.Player";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";
// playerctld: a player of its own that stands for the active one, and keeps
// the players in the order of their last activity.
constexpr char kCtld[] = "org.mpris.MediaPlayer2.playerctld";
constexpr char kCtldInterface[] = "com.github.altdesktop.playerctld";

constexpr char kAwayText[] = "No player";
// Without a bus it is looked for again this often.
constexpr int kRetryMs = 500;
// A call unanswered for this long is given up.
constexpr uint64_t kCallTimeoutUs = 2000000;
constexpr int64_t kJumpUs = 5000000;
// Output the bus could not take at once is tried again this soon.
constexpr int kOutputRetryMs = 10;

const char* NameOfCall(sd_bus_message* m) {
  const char* name = nullptr;
  sd_bus_slot* slot = sd_bus_get_current_slot(sd_bus_message_get_bus(m));
  if (slot == nullptr || sd_bus_slot_get_description(slot, &name) < 0) return nullptr;
  return name;
}

// "%20" and the like back to their bytes; a broken escape stays as written.
std::string Unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The variant's value when it holds one of these types; else it is skipped.
bool ReadString(sd_bus_message* m, const char* contents, std::string& out) {
  const char* value = nullptr;
  if ((strcmp(contents, "s") == 0 || strcmp(contents, "o") == 0) &&
      sd_bus_message_read_basic(m, contents[0], &value) > 0) {
    out = value ? value : "";
    return true;
  }
  return false;
}

bool ReadNumber(sd_bus_message* m, const char* contents, double& out) {
  union {
    double d;
    int32_t i;
    uint32_t u;
    int64_t x;
    uint64_t t;
  } value = {};
  const char type = contents[0];
  if (contents[1] != '\0' || !strchr("diuxt", type) || sd_bus_message_read_basic(m, type, &value) <= 0)
    return false;
  switch (type) {
    case 'd': out = value.d; break;
    case 'i': out = value.i; break;
    case 'u': out = value.u; break;
    case 'x': out = static_cast<double>(value.x); break;
    default: out = static_cast<double>(value.t); break;
  }
  return true;
}

bool ReadStrings(sd_bus_message* m, const char* contents, std::vector<std::string>& out) {
  if (strcmp(contents, "as") != 0) return false;
  char** strings = nullptr;
  if (sd_bus_message_read_strv(m, &strings) < 0) return false;
  out.clear();
  for (char** s = strings; s && *s; ++s) {
    out.emplace_back(*s);
    free(*s);
  }
  free(strings);
  return true;
}

// Walks an a{sv} the message is at, handing each key with its variant's
// contents to read, which reads the value or returns false to skip it.
template <typename Read>
void ForEachProperty(sd_bus_message* m, Read read) {
  if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") <= 0) return;
  while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
    const char* key = nullptr;
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_read_basic(m, 's', &key) <= 0 ||
        sd_bus_message_peek_type(m, &type, &contents) <= 0 ||
        sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, contents) <= 0)
      return;
    if (!read(std::string(key), contents)) sd_bus_message_skip(m, contents);
    sd_bus_message_exit_container(m);  // the variant
    sd_bus_message_exit_container(m);  // the entry
  }
  sd_bus_message_exit_container(m);
}

PlayState StateOf(const std::string& status) {
  if (status == "Playing") return PlayState::kPlaying;
  if (status == "Paused") return PlayState::kPaused;
  return PlayState::kStopped;
}

}  // namespace

MprisEngine::MprisEngine(std::string name)
    : wanted_(name.empty() ? std::string() : kPrefix + name) {}

MprisEngine::~MprisEngine() { Disconnect(); }

bool MprisEngine::Start() {
  Connect();
  return true;
}

void MprisEngine::Connect() {
  retryAtMs_ = MonotonicMs() + kRetryMs;
  if (sd_bus_open_user(&bus_) < 0) {
    bus_ = nullptr;
    return;
  }
  // Players come and go, change and jump; playerctld says who is active.
  const std::string owners = std::string("type='signal',sender='") + kBus + "',member='NameOwnerChanged',arg0namespace='" +
                             std::string(kPrefix, sizeof kPrefix - 2) + "'";
  const std::string changes = std::string("type='signal',interface='") + kProperties +
                              "',member='PropertiesChanged',path='" + kPath + "'";
  const std::string seeks = std::string("type='signal',interface='") + kPlayer +
                            "',member='Seeked',path='" + kPath + "'";
  if (sd_bus_add_match_async(bus_, nullptr, owners.c_str(), OnOwnerChanged, nullptr, this) < 0 ||
      sd_bus_add_match_async(bus_, nullptr, changes.c_str(), OnPropertiesChanged, nullptr, this) < 0 ||
      sd_bus_add_match_async(bus_, nullptr, seeks.c_str(), OnSeeked, nullptr, this) < 0 ||
      !Send(kBus, kBus, "ListNames", OnNames, ""))
    Disconnect();
}

void MprisEngine::Disconnect() {
  if (bus_) sd_bus_flush_close_unref(bus_);
  bus_ = nullptr;
  players_.clear();
  active_.clear();
  listed_ = false;
  retryAtMs_ = MonotonicMs() + kRetryMs;
}

bool MprisEngine::Send(const std::string& destination, const char* interface, const char* member,
                       int (*handler)(sd_bus_message*, void*, sd_bus_error*), const char* types,
                       ...) {
  va_list args;
  va_start(args, types);
  const bool sent = SendV(destination, interface, member, handler, types, args);
  va_end(args);
  return sent;
}

bool MprisEngine::SendV(const std::string& destination, const char* interface, const char* member,
                        int (*handler)(sd_bus_message*, void*, sd_bus_error*), const char* types,
                        va_list args) {
  if (bus_ == nullptr) return false;
  sd_bus_message* call = nullptr;
  // The bus's own methods live at a path of its own.
  const char* path = destination == kBus ? kBusPath : kPath;
  if (sd_bus_message_new_method_call(bus_, &call, destination.c_str(), path, interface, member) < 0)
    return false;
  int result = sd_bus_message_appendv(call, types, args);
  sd_bus_slot* slot = nullptr;
  if (result >= 0) {
    if (handler == nullptr) sd_bus_message_set_expect_reply(call, 0);
    result = handler ? sd_bus_call_async(bus_, &slot, call, handler, this, kCallTimeoutUs)
                     : sd_bus_send(bus_, call, nullptr);
  }
  sd_bus_message_unref(call);
  if (slot) {
    // The reply names its player through the slot. Floating, the bus holds
    // the slot until the reply came; the reference handed back here goes.
    sd_bus_slot_set_description(slot, destination.c_str());
    sd_bus_slot_set_floating(slot, 1);
    sd_bus_slot_unref(slot);
  }
  return result >= 0;
}

bool MprisEngine::Call(const char* member, const char* types, ...) {
  if (Chosen() == nullptr) return false;
  // Nobody waits for the answer: what changes comes back as signals.
  va_list args;
  va_start(args, types);
  const bool sent = SendV(chosen_, kPlayer, member, nullptr, types, args);
  va_end(args);
  return sent;
}

std::vector<int> MprisEngine::WaitFds() const {
  if (bus_ == nullptr) return {};
  const int fd = sd_bus_get_fd(bus_);
  return fd >= 0 ? std::vector<int>{fd} : std::vector<int>{};
}

int MprisEngine::WaitMs() {
  if (quit_) return -1;
  if (!pending_.empty()) return 0;
  const uint64_t now = MonotonicMs();
  if (bus_ == nullptr) return retryAtMs_ > now ? static_cast<int>(retryAtMs_ - now) : 0;
  int wait = -1;
  uint64_t until = 0;
  if (sd_bus_get_timeout(bus_, &until) >= 0 && until != UINT64_MAX) {
    const uint64_t nowUs = MonotonicUs();
    wait = until > nowUs ? static_cast<int>((until - nowUs + 999) / 1000) : 0;
  }
  if (sd_bus_get_events(bus_) & POLLOUT) wait = wait < 0 ? kOutputRetryMs : std::min(wait, kOutputRetryMs);
  const Player* player = const_cast<MprisEngine*>(this)->Chosen();
  if (player && player->state == PlayState::kPlaying) {
    // Due when the shown second moves on.
    const double elapsed = Elapsed(*player);
    const int tick = std::max(1, static_cast<int>((std::floor(elapsed) + 1 - elapsed) * 1000.0) + 1);
    wait = wait < 0 ? tick : std::min(wait, tick);
  }
  return wait;
}

void MprisEngine::Service(EngineEvents& events) {
  if (quit_) return;
  if (bus_ == nullptr && MonotonicMs() >= retryAtMs_) Connect();
  if (bus_) {
    int result;
    while ((result = sd_bus_process(bus_, nullptr)) > 0) {
    }
    if (result < 0) Disconnect();
  }
  if (bus_ == nullptr || listed_) Choose();
  Tell();
  events.insert(events.end(), pending_.begin(), pending_.end());
  pending_.clear();
}

MprisEngine::Player* MprisEngine::Chosen() {
  if (chosen_.empty()) return nullptr;
  const auto found = players_.find(chosen_);
  return found == players_.end() ? nullptr : &found->second;
}

void MprisEngine::AddPlayer(const std::string& name, const std::string& owner) {
  if (name.compare(0, sizeof kPrefix - 1, kPrefix) != 0) return;
  Player& player = players_[name];
  player.owner = owner;
  if (name == kCtld) {
    Send(name, kProperties, "Get", OnActive, "ss", kCtldInterface, "PlayerNames");
    return;
  }
  Send(name, kProperties, "GetAll", OnAll, "s", kPlayer);
}

void MprisEngine::AskPosition(const std::string& name) {
  Send(name, kProperties, "Get", OnPosition, "ss", kPlayer, "Position");
}

void MprisEngine::ReadProperties(sd_bus_message* m, Player& player) {
  bool moved = false;
  ForEachProperty(m, [&](const std::string& key, const char* contents) {
    std::string text;
    double number = 0;
    if (key == "PlaybackStatus" && ReadString(m, contents, text)) {
      const PlayState state = StateOf(text);
      if (state == PlayState::kPlaying && player.state != PlayState::kPlaying)
        player.playedSince = ++news_;
      player.position = Elapsed(player);
      player.positionAtMs = MonotonicMs();
      player.state = state;
      moved = true;
      return true;
    }
    if (key == "Volume" && ReadNumber(m, contents, number)) {
      player.volume = static_cast<int>(std::lround(std::clamp(number, 0.0, 1.0) * 100));
      return true;
    }
    if (key == "Position" && ReadNumber(m, contents, number)) {
      player.position = number / 1e6;
      player.positionAtMs = MonotonicMs();
      return true;
    }
    if (key != "Metadata" || strcmp(contents, "a{sv}") != 0) return false;
    std::string title, album, url;
    std::vector<std::string> artists;
    double track = 0;
    player.trackId.clear();
    ForEachProperty(m, [&](const std::string& field, const char* inner) {
      if (field == "xesam:title") return ReadString(m, inner, title);
      if (field == "xesam:album") return ReadString(m, inner, album);
      if (field == "xesam:url") return ReadString(m, inner, url);
      if (field == "mpris:trackid") return ReadString(m, inner, player.trackId);
      if (field == "xesam:artist") return ReadStrings(m, inner, artists);
      if (field == "xesam:trackNumber") return ReadNumber(m, inner, track);
      return false;
    });
    std::string artist;
    for (const std::string& one : artists) artist += (artist.empty() ? "" : ", ") + one;
    player.title = JoinTitle(artist, album, title);
    if (player.title.empty()) player.title = NameOfPath(Unescaped(url));
    player.entry = track >= 1 ? static_cast<int>(track) - 1 : 0;
    moved = true;
    return true;
  });
  // A new track or state moves the position in ways no signal tells.
  if (moved && player.known) {
    for (const auto& [name, each] : players_)
      if (&each == &player) AskPosition(name);
  }
}

double MprisEngine::Elapsed(const Player& player) const {
  if (player.state != PlayState::kPlaying) return player.position;
  return player.position + static_cast<double>(MonotonicMs() - player.positionAtMs) / 1000.0;
}

void MprisEngine::Choose() {
  std::string choice;
  const auto candidate = [&](const std::string& name) {
    const auto found = players_.find(name);
    if (found == players_.end() || !found->second.known || name == kCtld) return false;
    if (wanted_.empty()) return true;
    return name == wanted_ || name.compare(0, wanted_.size() + 1, wanted_ + ".") == 0;
  };
  if (wanted_.empty() && players_.count(kCtld)) {
    for (const std::string& name : active_)
      if (candidate(name)) {
        choice = name;
        break;
      }
  }
  if (choice.empty()) {
    uint64_t latest = 0;
    for (const auto& [name, player] : players_) {
      if (!candidate(name)) continue;
      if (choice.empty() || player.playedSince > latest) {
        choice = name;
        latest = player.playedSince;
      }
    }
  }
  if (choice == chosen_ && (!choice.empty() || away_)) return;
  chosen_ = choice;
  told_ = Told();
  if (choice.empty()) {
    pending_.push_back(EngineEvent::Of(EngineEvent::kAway, kAwayText));
    away_ = true;
    return;
  }
  away_ = false;
  pending_.push_back(EngineEvent::Of(EngineEvent::kNote, "MPRIS player: " + choice));
  pending_.push_back(EngineEvent::Of(EngineEvent::kReady));
}

void MprisEngine::Tell() {
  Player* player = Chosen();
  if (player == nullptr) return;
  const bool all = !told_.valid;
  if (all || player->entry != told_.entry) {
    EngineEvent event = EngineEvent::Of(EngineEvent::kEntry);
    event.entry = player->entry;
    pending_.push_back(event);
  }
  if (all || player->entry != told_.entry || player->title != told_.title)
    pending_.push_back(EngineEvent::Of(EngineEvent::kTitle, player->title));
  if (all || player->state != told_.state) {
    EngineEvent event = EngineEvent::Of(EngineEvent::kState);
    event.state = player->state;
    pending_.push_back(event);
  }
  if ((all || player->volume != told_.volume) && player->volume >= 0) {
    EngineEvent event = EngineEvent::Of(EngineEvent::kVolume);
    event.volume = player->volume;
    pending_.push_back(event);
  }
  const int shown = static_cast<int>(Elapsed(*player));
  if (all || shown != elapsedShown_ || player->state != told_.state) {
    EngineEvent event = EngineEvent::Of(EngineEvent::kElapsed);
    event.seconds = Elapsed(*player);
    pending_.push_back(event);
    elapsedShown_ = shown;
  }
  told_ = {true, player->title, player->entry, player->state, player->volume};
}

int MprisEngine::OnNames(sd_bus_message* m, void* self, sd_bus_error*) {
  MprisEngine& engine = *static_cast<MprisEngine*>(self);
  std::vector<std::string> names;
  if (!sd_bus_message_is_method_error(m, nullptr) && ReadStrings(m, "as", names))
    for (const std::string& name : names) engine.AddPlayer(name, "");
  engine.listed_ = true;
  return 0;
}

int MprisEngine::OnAll(sd_bus_message* m, void* self, sd_bus_error*) {
  MprisEngine& engine = *static_cast<MprisEngine*>(self);
  const char* name = NameOfCall(m);
  if (name == nullptr) return 0;
  const auto found = engine.players_.find(name);
  if (found == engine.players_.end()) return 0;
  Player& player = found->second;
  const char* sender = sd_bus_message_get_sender(m);
  if (sender) player.owner = sender;
  if (!sd_bus_message_is_method_error(m, nullptr)) engine.ReadProperties(m, player);
  player.known = true;
  // One already playing when it is found counts as the latest to start.
  if (player.state == PlayState::kPlaying && player.playedSince == 0) player.playedSince = ++engine.news_;
  return 0;
}

int MprisEngine::OnPosition(sd_bus_message* m, void* self, sd_bus_error*) {
  MprisEngine& engine = *static_cast<MprisEngine*>(self);
  const char* name = NameOfCall(m);
  const auto found = name ? engine.players_.find(name) : engine.players_.end();
  if (found == engine.players_.end() || sd_bus_message_is_method_error(m, nullptr)) return 0;
  char type = 0;
  const char* contents = nullptr;
  double us = 0;
  if (sd_bus_message_peek_type(m, &type, &contents) > 0 &&
      sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, contents) > 0 &&
      ReadNumber(m, contents, us)) {
    found->second.position = us / 1e6;
    found->second.positionAtMs = MonotonicMs();
    engine.elapsedShown_ = -1;
  }
  return 0;
}

int MprisEngine::OnActive(sd_bus_message* m, void* self, sd_bus_error*) {
  MprisEngine& engine = *static_cast<MprisEngine*>(self);
  char type = 0;
  const char* contents = nullptr;
  if (!sd_bus_message_is_method_error(m, nullptr) && sd_bus_message_peek_type(m, &type, &contents) > 0 &&
      sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, contents) > 0)
    ReadStrings(m, contents, engine.active_);
  return 0;
}

int MprisEngine::OnOwnerChanged(sd_bus_message* m, void* self, sd_bus_error*) {
  MprisEngine& engine = *static_cast<MprisEngine*>(self);
  const char *name = nullptr, *before = nullptr, *after = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &before, &after) < 0) return 0;
  if (after && *after) {
    engine.AddPlayer(name, after);
  } else {
    engine.players_.erase(name);
    if (strcmp(name, kCtld) == 0) engine.active_.clear();
  }
  return 0;
}

int MprisEngine::OnPropertiesChanged(sd_bus_message* m, void* self, sd_bus_error*) {
  MprisEngine& engine = *static_cast<MprisEngine*>(self);
  const char* interface = nullptr;
  const char* sender = sd_bus_message_get_sender(m);
  if (sender == nullptr || sd_bus_message_read_basic(m, 's', &interface) <= 0) return 0;
  for (auto& [name, player] : engine.players_) {
    if (player.owner != sender) continue;
    if (name == kCtld && strcmp(interface, kCtldInterface) == 0) {
      ForEachProperty(m, [&](const std::string& key, const char* contents) {
        return key == "PlayerNames" && ReadStrings(m, contents, engine.active_);
      });
      return 0;
    }
    // Before its first answer a player's news waits for that answer.
    if (strcmp(interface, kPlayer) == 0 && player.known) engine.ReadProperties(m, player);
    return 0;
  }
  return 0;
}

int MprisEngine::OnSeeked(sd_bus_message* m, void* self, sd_bus_error*) {
  MprisEngine& engine = *static_cast<MprisEngine*>(self);
  const char* sender = sd_bus_message_get_sender(m);
  int64_t us = 0;
  if (sender == nullptr || sd_bus_message_read_basic(m, 'x', &us) <= 0) return 0;
  for (auto& [name, player] : engine.players_)
    if (player.owner == sender) {
      player.position = static_cast<double>(us) / 1e6;
      player.positionAtMs = MonotonicMs();
      engine.elapsedShown_ = -1;
    }
  return 0;
}

void MprisEngine::Load(int entry) {
  // A player's list cannot be entered by number here: it plays what it has.
  (void)entry;
  Play();
}

void MprisEngine::Play() { Call("Play"); }

void MprisEngine::TogglePause() { Call("PlayPause"); }

void MprisEngine::Stop() { Call("Stop"); }

void MprisEngine::JumpFrames(int frames) {
  Call("Seek", "x", static_cast<int64_t>(frames < 0 ? -kJumpUs : kJumpUs));
}

void MprisEngine::SeekTo(double seconds) {
  const Player* player = Chosen();
  if (player == nullptr) return;
  const int64_t to = static_cast<int64_t>(std::max(0.0, seconds) * 1e6);
  if (!player->trackId.empty()) {
    Call("SetPosition", "ox", player->trackId.c_str(), to);
  } else {
    Call("Seek", "x", to - static_cast<int64_t>(Elapsed(*player) * 1e6));
  }
}

bool MprisEngine::Step(int by) {
  // Players step one track at a time; further steps are not theirs to take.
  if (by == 1) return Call("Next");
  if (by == -1) return Call("Previous");
  return false;
}

bool MprisEngine::SetVolume(int volume) {
  const Player* player = Chosen();
  if (player == nullptr || player->volume < 0) return false;
  return Send(chosen_, kProperties, "Set", nullptr, "ssv", kPlayer, "Volume", "d",
              std::clamp(volume, 0, 100) / 100.0);
}

void MprisEngine::Quit() {
  // The player plays on; only what was sent is flushed.
  quit_ = true;
  if (bus_) sd_bus_flush(bus_);
}
