// The command line: norvelo [options] list.
#pragma once

#include <string>
#include <vector>

#include "console/engines.h"
#include "posix/keymap.h"
#include "posix/serial.h"

struct Options {
  std::string serport = kDefaultSerport;
  bool recursive = false;
  std::string player = kDefaultPlayer;  // the engine, by its name
  std::vector<std::string> list;  // everything from the first non-option on
};

extern const char kUsageText[];

// Reads the options from argv[1] on. Each "-m" loads its mappings file into
// keys at once; "-s"/"-m" without a value and unknown options are ignored.
Options ReadOptions(int argc, char* const argv[], KeyMap& keys);
