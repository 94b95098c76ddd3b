// norvelo-bridge: the control unit's line, served to key clients on a lircd
// socket and to display clients on an LCDd port, in one event loop.
#pragma once

#include <cstddef>

// Bounds on clients: how many of each kind, how long a command line may be,
// and how much may wait for a client that does not read before it is dropped.
constexpr size_t kMaxClientsPerKind = 32;
constexpr size_t kMaxLircLine = 1024;
constexpr size_t kMaxLcdLine = 8192;
constexpr size_t kMaxPendingOutput = 64 * 1024;

// Runs the whole program; returns the exit status of a start-up failure, and
// otherwise ends by the signal that stopped it.
int RunBridge(int argc, char* argv[]);
