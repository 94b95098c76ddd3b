#include "posix/keymap.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "posix/lines.h"
#include "posix/trace.h"
#include "posix/trim.h"
#include "posix/posix.h"

namespace {
// Characters of a mappings-file line that are looked at.
constexpr size_t kMaxMappingsLine = 1022;
// Bytes of a mappings file that are read: 24 codes with long notes fit many
// times over.
constexpr size_t kMaxMappingsBytes = 64 * 1024;

const char* const kSlotNames[kKeySlots] = {
    "Quit",         "Play",          "Pause",       "Stop",        "Volume up",
    "Volume down",  "Mute",          "Jump forward", "Jump back",  "Next track",
    "Previous track", "Forward ten", "Back ten",    "Mode",        "Digit 0",
    "Digit 1",      "Digit 2",       "Digit 3",     "Digit 4",     "Digit 5",
    "Digit 6",      "Digit 7",       "Digit 8",     "Digit 9"};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a hexadecimal number the way "%x" does (optional sign, optional 0x),
// keeping only the low 16 bits however many digits follow. False when the
// line does not begin with a number.
bool ParseCode(const std::string& line, uint16_t& code) {
  size_t i = 0;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  if (i + 1 < line.size() && line[i] == '0' && (line[i + 1] == 'x' || line[i + 1] == 'X') &&
      i + 2 < line.size() && HexValue(line[i + 2]) >= 0)
    i += 2;
  uint32_t value = 0;
  bool any = false;
  for (; i < line.size() && HexValue(line[i]) >= 0; ++i) {
    value = ((value << 4) | static_cast<uint32_t>(HexValue(line[i]))) & 0xFFFF;
    any = true;
  }
  if (!any) return false;
  code = static_cast<uint16_t>(negative ? (0u - value) & 0xFFFF : value);
  return true;
}

}  // namespace

KeyMap DefaultKeys() {
  KeyMap keys = {0x350C, 0x3535, 0x3530, 0x3536, 0x3410, 0x3411, 0x241A, 0,
                 0,      0x3520, 0x3521, 0,      0,      0x353F};
  for (int d = 0; d <= 9; ++d) keys[KeyDigit0 + d] = static_cast<uint16_t>(0x3000 + d);
  return keys;
}

const char* KeySlotName(int slot) {
  return slot >= 0 && slot < kKeySlots ? kSlotNames[slot] : "None";
}

int LookupKey(const KeyMap& keys, uint16_t code) {
  // 0 in a slot is "no key"; a TV remote's "0" or two bytes of line noise
  // must not find one.
  if (code == 0) return KeyNone;
  for (int slot = 0; slot < kKeySlots; ++slot)
    if (keys[slot] == code) return slot;
  return KeyNone;
}

int LoadIRCodes(const std::string& path, KeyMap& keys) {
  std::string why;
  FileHandle file = OpenTextFile(path, &why);
  if (!file && why == kNotARegularFile) {
    Trace("Remote mappings file %s: %s, the keys stay as they were\n", Printable(path).c_str(),
          kNotARegularFile);
    return 1;
  }
  if (!file) {
    Trace("Remote mappings file not found! %s: %s\n\n", Printable(path).c_str(), why.c_str());
    return 1;
  }
  // Read whole up to a bound, so that a file that keeps growing cannot keep
  // start-up waiting.
  std::string text(kMaxMappingsBytes + 1, '\0');
  text.resize(fread(&text[0], 1, text.size(), file.get()));
  const bool readError = ferror(file.get()) != 0;
  if (text.size() > kMaxMappingsBytes) {
    text.resize(kMaxMappingsBytes);
    Trace("Remote mappings file %s: longer than %zu bytes, the rest ignored\n",
          Printable(path).c_str(), kMaxMappingsBytes);
  }
  file.reset(text.empty() ? nullptr : fmemopen(&text[0], text.size(), "r"));
  KeyMap table{};
  int filled = 0;
  int lineNumber = 0;
  bool warnedFull = false;
  std::string line;
  bool cut = false;
  // The rest of a longer line (a long note) belongs to it, not to the next slot.
  while (file && ReadLine(file.get(), line, kMaxMappingsLine, cut)) {
    ++lineNumber;
    TrimString(line);
    if (line.empty()) continue;
    if (filled == kKeySlots) {
      if (!warnedFull)
        Trace("Remote mappings file %s: more than %d codes, line %d and later ignored\n",
              Printable(path).c_str(), kKeySlots, lineNumber);
      warnedFull = true;
      continue;
    }
    uint16_t code = 0;
    if (!ParseCode(line, code))
      Trace("Remote mappings file %s: line %d is not a code, slot %d (%s) left without a key\n",
            Printable(path).c_str(), lineNumber, filled, KeySlotName(filled));
    table[filled++] = code;
  }
  // An empty file or a read error would leave a remote without a single key,
  // not even quit.
  const bool anyKey = std::any_of(table.begin(), table.end(), [](uint16_t c) { return c != 0; });
  if (readError || !anyKey) {
    Trace("Remote mappings file %s gives no key, the keys stay as they were\n",
          Printable(path).c_str());
    return 1;
  }
  keys = table;
  return 0;
}

SeekMode NextSeekMode(SeekMode mode) {
  switch (mode) {
    case SeekMode::kSeek: return SeekMode::kTrack;
    case SeekMode::kTrack: return SeekMode::kTens;
    case SeekMode::kTens: break;
  }
  return SeekMode::kSeek;
}

int SetSeekMode(int slot, SeekMode mode) {
  if (slot == KeyNextTrack) {
    if (mode == SeekMode::kSeek) return KeyJumpForward;
    if (mode == SeekMode::kTens) return KeyForwardTen;
  } else if (slot == KeyPreviousTrack) {
    if (mode == SeekMode::kSeek) return KeyJumpBack;
    if (mode == SeekMode::kTens) return KeyBackTen;
  }
  return slot;
}
