// The receiver process: turns what the serial line brings into 2-byte
// IrFrame records on the comm pipe.
#pragma once

#include <string>

// Runs in the receiver process for good: waits on the line alone, assembles
// each IrFrame and writes it to commOut in one write. When the line hangs up
// it is closed and serport opened again until it comes back.
[[noreturn]] void RunReceiver(int serialFd, int commOut, const std::string& serport);
