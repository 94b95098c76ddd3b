// Small POSIX helpers shared by the tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Milliseconds of a clock that never jumps, modulo 2^32.
uint32_t MonotonicMs();
// The same clock in microseconds.
uint64_t MonotonicUs();

// Writes everything, waiting out EINTR and a full non-blocking descriptor for
// at most timeoutMs. False when the descriptor refused or stayed full.
bool WriteAll(int fd, std::string_view data, int timeoutMs = 1000);

void SetNonBlocking(int fd);
void SetCloseOnExec(int fd);

// Standard input, output and error opened on /dev/null where they are
// closed, so that the next descriptor opened cannot take their place (traces
// written into a serial line or a client's socket).
void OpenStandardDescriptors();
