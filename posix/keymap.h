// The remote key map: 24 slots of RemoteCodes, one per player action, with
// built-in defaults that a remote mappings file replaces whole.
#pragma once

#include <array>
#include <cstdint>
#include <string>

enum KeySlot : int {
  KeyQuit = 0,
  KeyPlay,
  KeyPause,
  KeyStop,
  KeyVolumeUp,
  KeyVolumeDown,
  KeyMute,
  KeyJumpForward,
  KeyJumpBack,
  KeyNextTrack,
  KeyPreviousTrack,
  KeyForwardTen,
  KeyBackTen,
  KeyMode,
  KeyDigit0,
  KeyDigit9 = KeyDigit0 + 9,
  KeyNone = 24,
};

constexpr int kKeySlots = 24;

// A held key's frames within this of each other are one press, for the
// player and the learner alike, so that a learnt file plays back as learnt.
constexpr uint32_t kRepeatWindowMs = 300;
using KeyMap = std::array<uint16_t, kKeySlots>;

KeyMap DefaultKeys();

// The name of a slot as tools show it ("Quit", "Play", ..., "Digit 9").
const char* KeySlotName(int slot);

// First slot whose code equals code in all 16 bits, or KeyNone. Code 0 is
// "no key" and matches no slot.
int LookupKey(const KeyMap& keys, uint16_t code);

// Reads one code per non-empty line, in slot order; unfilled slots become 0.
// 0 when read, 1 when the file cannot be opened or gives no key at all (keys
// then stay as they were, with a message).
int LoadIRCodes(const std::string& path, KeyMap& keys);

// What the next and previous keys do: jump within the track, step a track, or
// step ten tracks. The mode key goes seek, track, tens, seek...
enum class SeekMode { kSeek, kTrack, kTens };

SeekMode NextSeekMode(SeekMode mode);

// The slot the next and previous keys act as in a seek mode.
int SetSeekMode(int slot, SeekMode mode);
