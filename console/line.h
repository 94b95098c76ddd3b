// The main process's own description of the serial line, for DisplayFrames:
// it stays non-blocking whatever the receiver does to its own, so that a line
// that stops draining cannot stop keys; frames keep the line's pace; and a
// line that went away (a USB adapter pulled out) is opened again when back.
#pragma once

#include <cstdint>
#include <string>

#include "link/link.h"
#include "link/tick.h"

// Changed only here.
struct SerialLine {
  std::string serport;  // reopened when a write finds the line gone
  int serialFd = -1;
  LinePacer pacer;      // when the line has carried the last frame
  bool serialLost = false;
  uint32_t lastReopenTry = kNeverTick;
};

// Microseconds from nowUs until the line is free for the next frame.
uint64_t LineWaitUs(const SerialLine& line, uint64_t nowUs);

// One frame at nowUs, in one write. A short or failed write is not retried:
// the next refresh sends a whole frame. Only a line that is gone is noted.
void WriteFrame(SerialLine& line, const std::string& frame, uint64_t nowUs);

// A line found gone is tried again at most every kReopenIntervalMs of the
// tick now.
void ReopenIfLost(SerialLine& line, uint32_t now);
