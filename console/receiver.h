// The receiver process: turns the serial line's input notifications into
// 2-byte IrFrame records on the comm pipe.
#pragma once

#include <poll.h>

#include <cstdint>
#include <string>

// A lone byte waits this long for its partner before it is taken for noise.
constexpr int kPairWindowMs = 20;

// Pairs the bytes of reads into frames. The two bytes of a frame usually come
// in one read, but a driver may hand them over one by one.
struct FrameAssembler {
  bool hasLone = false;
  uint8_t lone = 0;
  uint64_t loneSince = 0;

  // Bytes the next read should ask for: never more than completes one frame.
  int Wanted() const { return hasLone ? 1 : 2; }

  // Takes the bytes of one read; true when out holds a complete frame.
  bool Take(const uint8_t* bytes, int count, uint64_t nowMs, uint8_t out[2]);

  // Drops a lone byte whose window has passed. Milliseconds until the window
  // of the lone byte ends, or -1 when none is held.
  int Expire(uint64_t nowMs);
};

// A line that hung up (a USB adapter pulled out) is tried again this often.
constexpr int kReopenIntervalMs = 500;

// What poll reports on a line that is gone: it must be closed rather than
// read in a loop.
constexpr short kLineGoneEvents = POLLHUP | POLLERR | POLLNVAL;

// The line hung up: said, closed (fd becomes -1), and a half frame dropped.
void LoseLine(int& fd, FrameAssembler& assembler, const std::string& serport);

// One try at opening serport again, said when it is back: the descriptor,
// or -1 while the line is still away.
int TryReopenLine(const std::string& serport);

// Runs in the receiver process for good: owns the device's SIGIO, reads on
// each notification and writes each frame to commOut in one write. When the
// line hangs up it is closed and serport opened again until it comes back.
[[noreturn]] void RXthread(int serialFd, int commOut, const std::string& serport);

void signal_handler_IO(int);
