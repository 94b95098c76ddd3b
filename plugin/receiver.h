// The receiver thread's work: wait for a frame, decode it, keep the keys of the
// two RC-5 systems served, drop repeats, queue the rest for the update thread.
#pragma once

#include <cstdint>

#include "link/keys.h"
#include "link/link.h"
#include "plugin/command_queue.h"
#include "plugin/host.h"

constexpr uint32_t kRepeatWindowMs = 200;

struct ReceiverState {
  RepeatFilter repeats{kRepeatWindowMs};
  BeepLimiter beeper;
  uint32_t droppedFull = 0;  // keys refused because the queue was full
};

// After a failed wait the next try waits this long, so that a missing port
// neither spins the thread nor keeps it away from a port opened meanwhile.
constexpr uint32_t kRetryPauseMs = 250;
// Polling stands in for line events on ports that cannot wait for them; short
// enough that a key's tick stays well inside the 200 ms repeat window.
constexpr uint32_t kPollPauseMs = 10;

// Decides whether a decoded key is queued; updates the repeat window.
bool FilterKey(ReceiverState& state, IrKey key, uint32_t now);

// One round: wait for input, read a frame, filter and queue it. A wait cut
// short by a stop request returns at once, without a beep or a pause.
void ReceiverStep(ReceiverState& state, CommandQueue& queue, SerialReader& line,
                  Clock& clock, Alerts& alerts);
