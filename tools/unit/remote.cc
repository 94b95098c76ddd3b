#include "tools/unit/remote.h"

#include <cctype>

namespace {
std::string Normalized(std::string_view name) {
  std::string out;
  for (char c : name)
    if (c != ' ' && c != '_' && c != '\t')
      out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return out;
}

struct Alias {
  const char* name;
  int slot;
};
const Alias kAliases[] = {
    {"q", KeyQuit},          {"vol+", KeyVolumeUp},       {"up", KeyVolumeUp},
    {"+", KeyVolumeUp},      {"vol-", KeyVolumeDown},     {"down", KeyVolumeDown},
    {"-", KeyVolumeDown},    {"next", KeyNextTrack},      {"prev", KeyPreviousTrack},
    {"previous", KeyPreviousTrack}, {"jump+", KeyJumpForward}, {"jump-", KeyJumpBack},
    {"ten+", KeyForwardTen}, {"ten-", KeyBackTen},
};

struct CharKey {
  char c;
  int slot;
  const char* label;
};
// The order is the legend's.
const CharKey kCharKeys[] = {
    {'q', KeyQuit, "q"},           {'p', KeyPlay, "p"},          {' ', KeyPause, "space"},
    {'s', KeyStop, "s"},           {'+', KeyVolumeUp, "+ Up"},   {'=', KeyVolumeUp, nullptr},
    {'-', KeyVolumeDown, "- Down"}, {'m', KeyMute, "m"},         {'n', KeyNextTrack, "n Right"},
    {'b', KeyPreviousTrack, "b Left"}, {']', KeyJumpForward, "]"}, {'[', KeyJumpBack, "["},
    {'>', KeyForwardTen, ">"},     {'<', KeyBackTen, "<"},       {'o', KeyMode, "o"},
};
}  // namespace

IrFrame RemoteButtons::Press(uint16_t code, uint32_t nowMs) {
  toggle_ = !toggle_;
  any_ = true;
  lastCode_ = code;
  lastEventMs_ = lastSentMs_ = nowMs;
  return IrFrameForCode(code, toggle_);
}

bool RemoteButtons::Repeat(uint16_t code, uint32_t nowMs, IrFrame& frame) {
  lastEventMs_ = nowMs;
  if (nowMs - lastSentMs_ < kRc5RepeatMs) return false;
  lastSentMs_ = nowMs;
  frame = IrFrameForCode(code, toggle_);
  return true;
}

bool RemoteButtons::KeyEvent(uint16_t code, uint32_t nowMs, IrFrame& frame) {
  if (any_ && code == lastCode_ && nowMs - lastEventMs_ < kHoldGapMs)
    return Repeat(code, nowMs, frame);
  frame = Press(code, nowMs);
  return true;
}

int ParseKeyName(std::string_view name) {
  const std::string wanted = Normalized(name);
  if (wanted.empty()) return -1;
  for (int slot = 0; slot < kKeySlots; ++slot)
    if (wanted == Normalized(KeySlotName(slot))) return slot;
  for (const Alias& alias : kAliases)
    if (wanted == alias.name) return alias.slot;
  if (wanted.size() == 1 && wanted[0] >= '0' && wanted[0] <= '9') return KeyDigit0 + (wanted[0] - '0');
  return -1;
}

int SlotForChar(char c) {
  if (c >= '0' && c <= '9') return KeyDigit0 + (c - '0');
  for (const CharKey& key : kCharKeys)
    if (key.c == c) return key.slot;
  return KeyNone;
}

bool TerminalKeys::Take(uint8_t byte, TermEvent& event) {
  if (!escape_.empty()) {
    escape_.push_back(static_cast<char>(byte));
    if (escape_.size() == 2) {
      if (byte == '[' || byte == 'O') return false;
      escape_.clear();  // ESC and a plain key: the ESC alone means nothing
      return Take(byte, event);
    }
    // A CSI or SS3 sequence ends with its final byte 0x40..0x7E.
    if (byte < 0x40 || byte > 0x7E) {
      if (escape_.size() > 16) escape_.clear();
      return false;
    }
    const bool arrow = escape_.size() == 3;
    escape_.clear();
    if (!arrow) return false;
    event.kind = TermEvent::kSlot;
    switch (byte) {
      case 'A': event.slot = KeyVolumeUp; return true;
      case 'B': event.slot = KeyVolumeDown; return true;
      case 'C': event.slot = KeyNextTrack; return true;
      case 'D': event.slot = KeyPreviousTrack; return true;
      default: return false;
    }
  }
  switch (byte) {
    case 0x1B: escape_.assign(1, '\x1b'); return false;
    case 0x03: event.kind = TermEvent::kLeave; return true;
    case '\r':
    case '\n': event.kind = TermEvent::kEnter; return true;
    case 0x0C: event.kind = TermEvent::kRedraw; return true;
    default: break;
  }
  const int slot = SlotForChar(static_cast<char>(byte));
  if (slot == KeyNone) return false;
  event.kind = TermEvent::kSlot;
  event.slot = slot;
  return true;
}

std::vector<std::string> LegendItems(const KeyMap& keys) {
  std::vector<std::string> items;
  for (const CharKey& key : kCharKeys)
    if (key.label != nullptr && keys[key.slot] != 0)
      items.push_back(std::string(key.label) + "  " + KeySlotName(key.slot));
  for (int d = 0; d <= 9; ++d)
    if (keys[KeyDigit0 + d] != 0) {
      items.push_back("0-9  Digits");
      break;
    }
  items.push_back("Enter  to the program");
  items.push_back("Ctrl-C  leave");
  return items;
}
