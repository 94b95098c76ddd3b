#include "bridge/lirc.h"

#include <cstdio>
#include <vector>

#include "link/link.h"

namespace {
const char* const kDigitNames[] = {"KEY_0", "KEY_1", "KEY_2", "KEY_3", "KEY_4",
                                   "KEY_5", "KEY_6", "KEY_7", "KEY_8", "KEY_9"};

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.emplace_back(line.substr(start, i - start));
  }
  return words;
}

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

std::string Packet(std::string_view command, bool success, const std::vector<std::string>& data) {
  std::string packet = "BEGIN\n";
  packet.append(command);
  packet += success ? "\nSUCCESS\n" : "\nERROR\n";
  // Every reply of ours carries data, also an empty list of keys.
  packet += "DATA\n" + std::to_string(data.size()) + "\n";
  for (const std::string& line : data) packet += line + "\n";
  return packet + "END\n";
}

std::string ListedKey(uint16_t code, int slot) {
  char text[64];
  snprintf(text, sizeof text, "%016llx %s", static_cast<unsigned long long>(code),
           LircKeyName(slot));
  return text;
}
}  // namespace

// Each name beside its slot: the key map's order is not LIRC's business.
const char* LircKeyName(int slot) {
  if (slot >= KeyDigit0 && slot <= KeyDigit9) return kDigitNames[slot - KeyDigit0];
  switch (slot) {
    case KeyQuit: return "KEY_EXIT";
    case KeyPlay: return "KEY_PLAY";
    case KeyPause: return "KEY_PAUSE";
    case KeyStop: return "KEY_STOP";
    case KeyVolumeUp: return "KEY_VOLUMEUP";
    case KeyVolumeDown: return "KEY_VOLUMEDOWN";
    case KeyMute: return "KEY_MUTE";
    case KeyJumpForward: return "KEY_FASTFORWARD";
    case KeyJumpBack: return "KEY_REWIND";
    case KeyNextTrack: return "KEY_NEXT";
    case KeyPreviousTrack: return "KEY_PREVIOUS";
    case KeyForwardTen: return "KEY_FORWARD";
    case KeyBackTen: return "KEY_BACK";
    case KeyMode: return "KEY_MODE";
    default: return "KEY_UNKNOWN";
  }
}

std::string KeyNameFor(const KeyMap& keys, uint16_t code) {
  const int slot = LookupKey(keys, code);
  if (slot != KeyNone) return LircKeyName(slot);
  char text[24];
  snprintf(text, sizeof text, "KEY_UNKNOWN_%04X", code);
  return text;
}

unsigned RepeatCounter::Next(uint8_t byte0, uint8_t byte1, uint64_t nowMs) {
  const uint16_t code = MakeRemoteCode(byte0, byte1);
  const bool toggle = (byte1 & kToggleBit) != 0;
  const bool held = any_ && code == code_ && toggle == toggle_ && nowMs - lastMs_ <= kHeldGapMs;
  count_ = held ? count_ + 1 : 0;
  any_ = true;
  code_ = code;
  toggle_ = toggle;
  lastMs_ = nowMs;
  return count_;
}

std::string KeyLine(uint16_t code, unsigned repeat, std::string_view name) {
  char head[40];
  snprintf(head, sizeof head, "%016llx %02x ", static_cast<unsigned long long>(code), repeat);
  std::string line(head);
  line.append(name);
  line += ' ';
  line += kRemoteName;
  line += '\n';
  return line;
}

// The command goes back as the client sent it, blanks and all: irsend waits
// for exactly its own line ("LIST  " for LIST "" "").
std::string LircReply(std::string_view line, const KeyMap& keys, std::string_view version) {
  const std::vector<std::string> words = Words(line);
  if (words.empty()) return "";
  if (SameWord(words[0], "VERSION") && words.size() == 1)
    return Packet(line, true, {std::string(version)});
  if (SameWord(words[0], "LIST") && words.size() == 1) return Packet(line, true, {kRemoteName});
  if (SameWord(words[0], "LIST") && words.size() <= 3) {
    if (words[1] != kRemoteName) return Packet(line, false, {"unknown remote: \"" + words[1] + "\""});
    std::vector<std::string> listed;
    for (int slot = 0; slot < kKeySlots; ++slot) {
      if (keys[slot] == 0 || (words.size() == 3 && words[2] != LircKeyName(slot))) continue;
      listed.push_back(ListedKey(keys[slot], slot));
    }
    if (words.size() == 3 && listed.empty())
      return Packet(line, false, {"unknown key: \"" + words[2] + "\""});
    return Packet(line, true, listed);
  }
  return Packet(line, false, {"unknown command: \"" + words[0] + "\""});
}
