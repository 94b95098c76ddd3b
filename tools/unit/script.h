// The scripted mode: key presses, holds and pauses read from a text file,
// turned into a timeline of frames for the emulator to send.
//
//   # a comment
//   play            press a key (names as ParseKeyName takes them)
//   wait 1500       pause; "ms" or "s" may follow the number: 1.5s, 300ms
//   hold vol+ 1s    hold a key down: it repeats like a real remote
//   code 0x1234     press a key that sends this RemoteCode
//   enter           an Enter to the program's standard input
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "posix/keymap.h"
#include "tools/unit/remote.h"

// Longest single wait or hold; longer ones are refused rather than wrapped.
constexpr uint32_t kMaxScriptPauseMs = 3600u * 1000u;

struct ScriptEvent {
  enum Kind { kPress, kRepeat, kEnter } kind = kPress;
  uint32_t atMs = 0;  // from the start of the script
  uint16_t code = 0;
  int slot = KeyNone;  // KeyNone for a raw code
};

struct Script {
  std::vector<ScriptEvent> events;
  uint32_t endMs = 0;  // when the last step is over
  std::string error;   // "line N: ...", empty when the script is good
};

// Keys are sent with the codes of keys; a key the map has no code for is an error.
Script ParseScript(std::istream& in, const KeyMap& keys);

// The frame for one event, with the toggle the remote would give it.
IrFrame FrameForEvent(const ScriptEvent& event, RemoteButtons& remote);
