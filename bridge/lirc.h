// The key side of the bridge: every IrFrame as a line on the lircd socket,
// named from LIRC's key namespace, with a repeat count, and the answers to
// the commands lircd clients send.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "posix/keymap.h"

constexpr char kRemoteName[] = "norvelo";

// A remote repeats a held key about every 114 ms. Frames of one code further
// apart than this are two presses even when the toggle bit says otherwise
// (remotes that never flip it, a frame lost between two presses).
constexpr uint64_t kHeldGapMs = 500;

// LIRC's name for a slot of the key map: KEY_EXIT for quit, KEY_PLAY, ...,
// KEY_0 to KEY_9 for the digits.
const char* LircKeyName(int slot);

// The name a RemoteCode goes out with: its slot's, or KEY_UNKNOWN_XXXX.
std::string KeyNameFor(const KeyMap& keys, uint16_t code);

// Tells a held key from a new press by the RC-5 toggle bit, which the remote
// flips on every press and keeps while the key is held.
class RepeatCounter {
 public:
  // 0 for a new press; one more than the frame before while held.
  unsigned Next(uint8_t byte0, uint8_t byte1, uint64_t nowMs);

 private:
  bool any_ = false;
  uint16_t code_ = 0;
  bool toggle_ = false;
  uint64_t lastMs_ = 0;
  unsigned count_ = 0;
};

// One broadcast line: code, repeat count, key name, remote name.
std::string KeyLine(uint16_t code, unsigned repeat, std::string_view name);

// The reply packet to one command line (BEGIN, the command as sent, SUCCESS or
// ERROR, DATA with its line count and lines, END): VERSION, LIST, LIST
// norvelo and LIST norvelo KEY; an error packet for anything else. "" for a
// blank line.
std::string LircReply(std::string_view line, const KeyMap& keys, std::string_view version);
