// The command line: norvelo [options] list.
#pragma once

#include <string>
#include <vector>

#include "console/engines.h"
#include "posix/keymap.h"
#include "posix/serial.h"

struct Options {
  // What the command line asks for: a run, or one answer and an end.
  enum class Action { kRun, kHelp, kVersion, kFail };
  Action action = Action::kRun;
  std::string message;  // kFail: the start-up message, blank line included
  std::string serport = kDefaultSerport;
  bool recursive = false;
  std::string player = kDefaultPlayer;  // the engine, by its name
  std::string stateFile;  // "-S": where the play state is kept; "" for none
  std::vector<std::string> mappings;  // each "-m" file, in order
  std::vector<std::string> unknown;   // options ignored, each once, in order
  std::vector<std::string> list;      // everything from the first non-option on
};

extern const char kUsageText[];
extern const char kVersionText[];

// Reads the options from argv[1] on; touches nothing outside. The first "-h",
// "--help", "-V" or "--version", or the first "-s"/"-m" without its value,
// decides the action and ends the reading.
Options ReadOptions(int argc, char* const argv[]);

// Loads each "-m" file into keys in order; later files replace earlier ones.
void LoadMappings(const Options& options, KeyMap& keys);
