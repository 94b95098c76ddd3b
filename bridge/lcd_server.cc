#include "bridge/lcd_server.h"

#include <algorithm>

#include "link/link.h"

namespace {

// The answer to hello: the protocol's version and the unit's geometry.
constexpr char kConnectLine[] =
    "connect LCDproc 0.5.9 protocol 0.4 lcd wid 16 hgt 2 cellwid 5 cellhgt 8\n";
constexpr char kSuccess[] = "success\n";

constexpr unsigned kHeldKeyRepeatsFrom = 4;

// Shown while no client has a screen to show.
const Lines kIdleLines = {"norvelo-bridge  ", "no screens      "};

char Escaped(char c) {
  switch (c) {
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    default: return c;
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool NameTooLong(const std::vector<std::string>& words, size_t from, size_t to) {
  for (size_t i = from; i < to && i < words.size(); ++i)
    if (words[i].size() > kMaxNameLength) return true;
  return false;
}

}  // namespace

bool SplitCommand(std::string_view line, std::vector<std::string>& words, std::string& error) {
  words.clear();
  size_t i = 0;
  while (i < line.size()) {
    if (IsBlank(line[i])) {
      ++i;
      continue;
    }
    std::string word;
    const char open = line[i];
    if (open == '"' || open == '{') {
      const char close = open == '"' ? '"' : '}';
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char c = line[i++];
        if (c == close) {
          closed = true;
          break;
        }
        if (c == '\\' && i < line.size()) {
          word.push_back(Escaped(line[i++]));
        } else {
          word.push_back(c);
        }
      }
      if (!closed) {
        error = std::string("no closing ") + close;
        return false;
      }
    } else {
      while (i < line.size() && !IsBlank(line[i])) word.push_back(line[i++]);
    }
    words.push_back(std::move(word));
  }
  return true;
}

bool LcdServer::SaidHello(int client) const {
  const auto it = clients_.find(client);
  return it != clients_.end() && it->second.hello;
}

void LcdServer::Connect(int client) { clients_[client] = Client(); }

void LcdServer::Disconnect(int client, uint64_t nowMs) {
  clients_.erase(client);
  screens_.erase(std::remove_if(screens_.begin(), screens_.end(),
                                [client](const Screen& s) { return s.owner == client; }),
                 screens_.end());
  reservations_.erase(std::remove_if(reservations_.begin(), reservations_.end(),
                                     [client](const Reservation& r) { return r.client == client; }),
                      reservations_.end());
  messages_.erase(std::remove_if(messages_.begin(), messages_.end(),
                                 [client](const LcdMessage& m) { return m.client == client; }),
                  messages_.end());
  if (shownOwner_ == client) shownOwner_ = -1;
  Choose(nowMs);
}

void LcdServer::LineTooLong(int client) { Error(client, "line too long"); }

void LcdServer::Handle(int client, std::string_view line, uint64_t nowMs) {
  if (clients_.count(client) == 0) return;
  std::vector<std::string> words;
  std::string error;
  if (!SplitCommand(line, words, error)) {
    Error(client, error);
    return;
  }
  if (words.empty()) return;
  Execute(client, words);
  Choose(nowMs);
}

void LcdServer::Execute(int client, const std::vector<std::string>& words) {
  Client& c = clients_[client];
  const std::string& command = words[0];
  if (command == "hello") {
    c.hello = true;
    Answer(client, kConnectLine);
    return;
  }
  if (!c.hello) {
    Error(client, "say hello first");
    return;
  }
  if (command == "client_set") {
    for (size_t i = 1; i < words.size(); i += 2) {
      if (words[i] != "-name" && words[i] != "name") return Error(client, "unknown attribute " + words[i]);
      if (i + 1 >= words.size()) return Error(client, "name without a value");
      c.name = words[i + 1].substr(0, kMaxNameLength);
    }
    Answer(client, kSuccess);
  } else if (command == "client_add_key") {
    AddKeys(client, words);
  } else if (command == "client_del_key") {
    DelKeys(client, words);
  } else if (command == "screen_add") {
    AddScreen(client, words);
  } else if (command == "screen_del") {
    DelScreen(client, words);
  } else if (command == "screen_set") {
    Screen* screen = words.size() >= 2 ? Find(client, words[1]) : nullptr;
    if (!screen) return Error(client, "unknown screen");
    const std::string why = SetScreen(*screen, std::vector<std::string>(words.begin() + 2, words.end()));
    if (!why.empty()) return Error(client, why);
    screen->name.resize(std::min(screen->name.size(), kMaxNameLength));
    Answer(client, kSuccess);
  } else if (command == "widget_add") {
    AddWidget(client, words);
  } else if (command == "widget_del") {
    DelWidget(client, words);
  } else if (command == "widget_set") {
    SetWidgetCommand(client, words);
  } else if (command == "noop" || command == "backlight" || command == "output" || command == "sleep") {
    // Nothing of the unit to switch: taken, so that clients carry on.
    Answer(client, kSuccess);
  } else if (command == "info") {
    Answer(client, "norvelo control unit, 16x2 characters on a serial line\n");
  } else {
    Error(client, "unknown command " + command);
  }
}

void LcdServer::AddKeys(int client, const std::vector<std::string>& words) {
  size_t first = 1;
  bool exclusive = false;
  if (words.size() > 1 && (words[1] == "-exclusively" || words[1] == "-shared")) {
    exclusive = words[1] == "-exclusively";
    first = 2;
  }
  if (first >= words.size()) return Error(client, "which keys?");
  // One answer for each key.
  for (size_t i = first; i < words.size(); ++i) {
    const std::string& key = words[i];
    bool conflict = false;
    size_t held = 0;
    Reservation* own = nullptr;
    for (Reservation& r : reservations_) {
      if (r.client == client) {
        ++held;
        if (r.key == key) own = &r;
      } else if (r.key == key && (exclusive || r.exclusive)) {
        conflict = true;
      }
    }
    if (conflict) {
      Error(client, "key " + key + " is held by another client");
    } else if (own) {
      own->exclusive = exclusive;
      Answer(client, kSuccess);
    } else if (held >= kMaxKeysPerClient || key.size() > kMaxNameLength) {
      Error(client, "too many keys");
    } else {
      reservations_.push_back({key, client, exclusive, nextOrder_++});
      Answer(client, kSuccess);
    }
  }
}

void LcdServer::DelKeys(int client, const std::vector<std::string>& words) {
  reservations_.erase(
      std::remove_if(reservations_.begin(), reservations_.end(),
                     [&](const Reservation& r) {
                       return r.client == client &&
                              std::find(words.begin() + 1, words.end(), r.key) != words.end();
                     }),
      reservations_.end());
  Answer(client, kSuccess);
}

void LcdServer::AddScreen(int client, const std::vector<std::string>& words) {
  if (words.size() != 2) return Error(client, "screen_add wants a screen id");
  if (Find(client, words[1])) return Error(client, "screen " + words[1] + " exists");
  const size_t owned = static_cast<size_t>(std::count_if(
      screens_.begin(), screens_.end(), [client](const Screen& s) { return s.owner == client; }));
  if (owned >= kMaxScreensPerClient || NameTooLong(words, 1, 2)) return Error(client, "too many screens");
  Screen screen;
  screen.id = words[1];
  screen.owner = client;
  screens_.push_back(std::move(screen));
  Answer(client, kSuccess);
}

void LcdServer::DelScreen(int client, const std::vector<std::string>& words) {
  Screen* screen = words.size() == 2 ? Find(client, words[1]) : nullptr;
  if (!screen) return Error(client, "unknown screen");
  clients_[client].widgets -= screen->widgets.size();
  if (shownOwner_ == client && shownId_ == screen->id) shownOwner_ = -1;
  screens_.erase(screens_.begin() + (screen - screens_.data()));
  Answer(client, kSuccess);
}

void LcdServer::AddWidget(int client, const std::vector<std::string>& words) {
  Screen* screen = words.size() >= 4 ? Find(client, words[1]) : nullptr;
  if (!screen) return Error(client, "widget_add wants a known screen, a widget id and a type");
  Widget widget;
  widget.id = words[2];
  if (!ParseWidgetType(words[3], widget.type)) return Error(client, "unknown widget type " + words[3]);
  if (words.size() == 6 && words[4] == "-in") {
    // One level of frames: a frame's own widgets are drawn, not a frame's frame's.
    const bool frameThere = std::any_of(screen->widgets.begin(), screen->widgets.end(), [&](const Widget& w) {
      return w.id == words[5] && w.type == WidgetType::kFrame && w.frame.empty();
    });
    if (!frameThere || widget.type == WidgetType::kFrame) return Error(client, "unknown frame " + words[5]);
    widget.frame = words[5];
  } else if (words.size() != 4) {
    return Error(client, "widget_add wants a screen, a widget id, a type and maybe -in frame");
  }
  for (const Widget& w : screen->widgets)
    if (w.id == widget.id) return Error(client, "widget " + widget.id + " exists");
  if (clients_[client].widgets >= kMaxWidgetsPerClient || NameTooLong(words, 2, 3))
    return Error(client, "too many widgets");
  ++clients_[client].widgets;
  screen->widgets.push_back(std::move(widget));
  Answer(client, kSuccess);
}

void LcdServer::DelWidget(int client, const std::vector<std::string>& words) {
  Screen* screen = words.size() == 3 ? Find(client, words[1]) : nullptr;
  if (!screen) return Error(client, "unknown screen");
  std::vector<Widget>& widgets = screen->widgets;
  const auto it = std::find_if(widgets.begin(), widgets.end(),
                               [&](const Widget& w) { return w.id == words[2]; });
  if (it == widgets.end()) return Error(client, "unknown widget " + words[2]);
  widgets.erase(it);
  --clients_[client].widgets;
  Answer(client, kSuccess);
}

void LcdServer::SetWidgetCommand(int client, const std::vector<std::string>& words) {
  Screen* screen = words.size() >= 3 ? Find(client, words[1]) : nullptr;
  if (!screen) return Error(client, "unknown screen");
  for (Widget& w : screen->widgets) {
    if (w.id != words[2]) continue;
    const std::string why = SetWidget(w, std::vector<std::string>(words.begin() + 3, words.end()), charset_);
    if (!why.empty()) return Error(client, why);
    return Answer(client, kSuccess);
  }
  Error(client, "unknown widget " + words[2]);
}

Screen* LcdServer::Find(int client, const std::string& id) {
  for (Screen& s : screens_)
    if (s.owner == client && s.id == id) return &s;
  return nullptr;
}

const Screen* LcdServer::Shown() const {
  for (const Screen& s : screens_)
    if (s.owner == shownOwner_ && s.id == shownId_) return &s;
  return nullptr;
}

uint64_t LcdServer::DurationMs(const Screen& screen) const {
  const int eighths = screen.duration > 0 ? screen.duration : kDefaultDurationEighths;
  return static_cast<uint64_t>(eighths) * 125u;
}

void LcdServer::Show(Screen* next, uint64_t nowMs) {
  const Screen* before = Shown();
  shownSince_ = nowMs;
  if (before == next) return;
  if (before) Answer(before->owner, "ignore " + before->id + "\n");
  shownOwner_ = next ? next->owner : -1;
  shownId_ = next ? next->id : "";
  if (!next) return;
  StartMoving(*next, nowMs);
  Answer(next->owner, "listen " + next->id + "\n");
}

void LcdServer::Choose(uint64_t nowMs) {
  int top = kHidden;
  for (const Screen& s : screens_) top = std::max(top, s.priority);
  std::vector<Screen*> turn;
  for (Screen& s : screens_)
    if (top != kHidden && s.priority == top) turn.push_back(&s);
  if (turn.empty()) return Show(nullptr, nowMs);
  const Screen* shown = Shown();
  const auto at = std::find(turn.begin(), turn.end(), shown);
  // Alerts and input hold the display; the three lower classes take turns.
  const bool rotates = top <= kForeground;
  if (at != turn.end()) {
    if (!rotates || nowMs - shownSince_ < DurationMs(**at)) return;
    return Show(*(at + 1 == turn.end() ? turn.begin() : at + 1), nowMs);
  }
  Show(rotates ? turn.front() : turn.back(), nowMs);
}

int64_t LcdServer::Tick(uint64_t nowMs) {
  Choose(nowMs);
  Screen* shown = const_cast<Screen*>(Shown());
  if (!shown) return -1;
  int64_t due = MoveText(*shown, nowMs);
  size_t equals = 0;
  for (const Screen& s : screens_) equals += s.priority == shown->priority ? 1 : 0;
  if (shown->priority <= kForeground && equals > 1) {
    const uint64_t end = shownSince_ + DurationMs(*shown);
    const int64_t left = end > nowMs ? static_cast<int64_t>(end - nowMs) : 0;
    if (due < 0 || left < due) due = left;
  }
  return due;
}

Lines LcdServer::Render(uint64_t nowMs) const {
  const Screen* shown = Shown();
  return shown ? RenderScreen(*shown, nowMs) : kIdleLines;
}

int LcdServer::KeyHolder(const std::string& key) const {
  const Reservation* first = nullptr;
  for (const Reservation& r : reservations_) {
    if (r.key != key) continue;
    if (r.exclusive || r.client == shownOwner_) return r.client;
    if (!first || r.order < first->order) first = &r;
  }
  return first ? first->client : -1;
}

void LcdServer::SendKey(int client, const std::string& key, unsigned repeat) {
  if (repeat > 0 && repeat < kHeldKeyRepeatsFrom) return;
  if (clients_.count(client)) Answer(client, "key " + key + "\n");
}

std::vector<LcdMessage> LcdServer::TakeMessages() {
  std::vector<LcdMessage> taken;
  taken.swap(messages_);
  return taken;
}
