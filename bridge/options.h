// The command line: norvelo-bridge [-s device] [-m mappings] [-l socket] [-p port]
#pragma once

#include <string>

#include "posix/keymap.h"
#include "posix/serial.h"

struct BridgeOptions {
  std::string serport = kDefaultSerport;
  std::string socketPath = "/run/lirc/lircd";  // where lircd's clients look first
  int port = 13666;                            // LCDd's port; 0 takes a free one
  bool help = false;
};

extern const char kBridgeUsage[];

// Each "-m" loads its mappings file into keys at once, as the player does.
// False, with the reason, for a command line that cannot be taken.
bool ReadBridgeOptions(int argc, char* const argv[], BridgeOptions& options, KeyMap& keys,
                       std::string& error);
