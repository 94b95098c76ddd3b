// The remote control as the emulated control unit plays it: which IrFrame a
// key sends, when the RC-5 toggle bit flips, and how often a held key repeats.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "posix/keymap.h"
#include "link/link.h"

// A held RC-5 key sends its frame again every 114 ms.
constexpr uint32_t kRc5RepeatMs = 114;
// A terminal has no key-up: key events closer together than this are taken
// for one key held down (the terminal's auto-repeat).
constexpr uint32_t kHoldGapMs = 200;

class RemoteButtons {
 public:
  // A new press: the toggle bit flips and the frame goes out at once.
  IrFrame Press(uint16_t code, uint32_t nowMs);
  // The key is still down: the frame goes out again, toggle unchanged, when
  // a repeat period has passed since the last one. False when not yet due.
  bool Repeat(uint16_t code, uint32_t nowMs, IrFrame& frame);
  // A key event from the terminal: a press, or part of a hold when the same
  // key came less than kHoldGapMs ago. False when no frame is due.
  bool KeyEvent(uint16_t code, uint32_t nowMs, IrFrame& frame);
  bool Toggle() const { return toggle_; }

 private:
  bool toggle_ = false;
  bool any_ = false;
  uint16_t lastCode_ = 0;
  uint32_t lastEventMs_ = 0;
  uint32_t lastSentMs_ = 0;
};

// A slot from its name as KeySlotName gives it or a short alias; case,
// spaces and underscores do not matter ("volume up", "VolumeUp", "vol+", "7").
// -1 when the name is unknown.
int ParseKeyName(std::string_view name);

// What a terminal key means to the emulator.
struct TermEvent {
  enum Kind { kSlot, kLeave, kEnter, kRedraw } kind = kSlot;
  int slot = KeyNone;
};

// Single characters and the arrow keys' escape sequences to events. An
// escape sequence cut between two reads is completed by the next read.
class TerminalKeys {
 public:
  template <typename Sink>
  void Feed(const uint8_t* bytes, size_t count, Sink&& sink) {
    for (size_t i = 0; i < count; ++i) {
      TermEvent event;
      if (Take(bytes[i], event)) sink(event);
    }
  }
  bool Take(uint8_t byte, TermEvent& event);

 private:
  std::string escape_;
};

// The slot a plain character stands for on the emulator's keyboard, or KeyNone.
int SlotForChar(char c);

// The on-screen legend, one item per key, only for slots that have a code.
std::vector<std::string> LegendItems(const KeyMap& keys);
