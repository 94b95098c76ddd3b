// The command line of norvelo-unit: [-b] [-f script] [-l file] [-m file] [-t seconds]
// [-- program args...]
#pragma once

#include <string>
#include <vector>

struct UnitOptions {
  std::string script;        // "-" for standard input; empty: interactive
  std::string mappings;      // the remote's codes; empty: the default key map
  std::string log;           // the program's whole output also goes there
  int lingerSeconds = 10;    // after the script, how long the program may still run
  bool realRate = false;     // the line read at 2400 baud, as the unit does
  std::vector<std::string> program;  // started with "-s <device>" after its name
  bool help = false;
};

extern const char kUnitUsage[];

// False with a message in error when the command line is wrong.
bool ParseUnitOptions(const std::vector<std::string>& args, UnitOptions& options, std::string& error);

// The program's arguments with the device inserted right after its name, so
// that a "-s" the user gave later still wins.
std::vector<std::string> ProgramArguments(const std::vector<std::string>& program,
                                          const std::string& device);
