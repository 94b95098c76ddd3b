// The receiver process: turns the serial line's input notifications into
// 2-byte IrFrame records on the comm pipe.
#pragma once

#include <string>

// Runs in the receiver process for good: owns the device's SIGIO, reads on
// each notification and writes each frame to commOut in one write. When the
// line hangs up it is closed and serport opened again until it comes back.
[[noreturn]] void RXthread(int serialFd, int commOut, const std::string& serport);

void signal_handler_IO(int);
