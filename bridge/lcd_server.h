// The display side of the bridge: the clients of LCDproc's LCDd protocol,
// their screens and key reservations, which screen the unit shows (the
// highest priority wins, equals take turns) and what it shows.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/screen.h"
#include "link/charset.h"

// What one client may hold, so that none can take the bridge's memory.
constexpr size_t kMaxScreensPerClient = 32;
constexpr size_t kMaxWidgetsPerClient = 256;
constexpr size_t kMaxKeysPerClient = 64;
constexpr size_t kMaxNameLength = 256;

// A screen stays this long in its turn unless it asks otherwise (4 s).
constexpr int kDefaultDurationEighths = 32;

// The words of a command line: separated by blanks; "..." and {...} hold
// blanks, and inside them a backslash escapes the next character (\n, \r and
// \t stand for the controls). False, with the reason, for a quote left open.
bool SplitCommand(std::string_view line, std::vector<std::string>& words, std::string& error);

struct LcdMessage {
  int client;
  std::string text;  // one or more whole lines
};

class LcdServer {
 public:
  explicit LcdServer(DisplayCharset charset) : charset_(charset) {}

  void Connect(int client);
  // Its screens and reservations go with it.
  void Disconnect(int client, uint64_t nowMs);
  // One command line; the answer and any listen/ignore it causes are queued.
  void Handle(int client, std::string_view line, uint64_t nowMs);
  // The answer to a line that was cut off for its length.
  void LineTooLong(int client);

  // Who gets a key: the client holding it exclusively, else of those
  // sharing it the one whose screen is shown, else the first to reserve it;
  // -1 when no client holds it.
  int KeyHolder(const std::string& key) const;
  // A held key reaches its client on the press and, like a keyboard's
  // autorepeat, from its fourth repeat on: a tap on a remote gives one
  // or two frames, which must not act twice.
  void SendKey(int client, const std::string& key, unsigned repeat);

  // Rotation and moving text brought up to nowMs. Milliseconds until the
  // next change comes due, -1 when nothing changes by itself.
  int64_t Tick(uint64_t nowMs);
  // What the unit should show now.
  Lines Render(uint64_t nowMs) const;

  std::vector<LcdMessage> TakeMessages();
  size_t clientCount() const { return clients_.size(); }
  bool SaidHello(int client) const;

 private:
  struct Reservation {
    std::string key;
    int client;
    bool exclusive;
    uint64_t order;
  };
  struct Client {
    bool hello = false;
    std::string name;
    size_t widgets = 0;
  };

  void Answer(int client, const std::string& text) { messages_.push_back({client, text}); }
  void Error(int client, const std::string& why) { Answer(client, "huh? " + why + "\n"); }
  void Execute(int client, const std::vector<std::string>& words);
  void AddKeys(int client, const std::vector<std::string>& words);
  void DelKeys(int client, const std::vector<std::string>& words);
  void AddScreen(int client, const std::vector<std::string>& words);
  void DelScreen(int client, const std::vector<std::string>& words);
  void AddWidget(int client, const std::vector<std::string>& words);
  void DelWidget(int client, const std::vector<std::string>& words);
  void SetWidgetCommand(int client, const std::vector<std::string>& words);
  Screen* Find(int client, const std::string& id);
  const Screen* Shown() const;
  void Choose(uint64_t nowMs);
  void Show(Screen* next, uint64_t nowMs);
  uint64_t DurationMs(const Screen& screen) const;

  DisplayCharset charset_;
  std::map<int, Client> clients_;
  std::vector<Screen> screens_;  // in the order they were added
  std::vector<Reservation> reservations_;
  uint64_t nextOrder_ = 0;
  int shownOwner_ = -1;  // the screen on the unit, by owner and id
  std::string shownId_;
  uint64_t shownSince_ = 0;
  std::vector<LcdMessage> messages_;
};
