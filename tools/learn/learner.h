// Learning a remote: every slot of the key map in order gets the RemoteCode of
// the next key pressed, or none. Codes are formed and debounced as the player
// does, so the file written plays back the same way.
#pragma once

#include <cstdint>
#include <string>

#include "posix/keymap.h"
#include "link/keys.h"

struct LearnOutcome {
  enum Kind {
    kAssigned,  // the slot has its code; the next slot waits
    kSkipped,   // the slot stays without a key
    kRepeat,    // the same key still held or pressed again at once: ignored
    kTaken,     // the code belongs to an earlier slot (owner): press another
    kZero,      // 0 marks "no key" in the file, so it cannot be a key's code
    kFinished,  // every slot is done; nothing more is taken
  } kind = kRepeat;
  int slot = KeyNone;
  uint16_t code = 0;
  int owner = KeyNone;
};

class Learner {
 public:
  // The slot waiting for its key; kKeySlots when all are done.
  int Slot() const { return slot_; }
  bool Finished() const { return slot_ >= kKeySlots; }
  const KeyMap& Keys() const { return keys_; }

  LearnOutcome OnFrame(uint8_t byte0, uint8_t byte1, uint32_t nowMs);
  LearnOutcome Skip();

 private:
  KeyMap keys_{};
  int slot_ = 0;
  RepeatFilter repeats_{kRepeatWindowMs};
};

// The remote mappings file: one code per line in slot order, 0 for a slot
// without a key, each followed by the slot's name for the reader.
std::string FormatMappings(const KeyMap& keys);

// Writes the file whole or not at all (a temporary file renamed over it).
bool WriteMappings(const std::string& path, const KeyMap& keys, std::string& error);
