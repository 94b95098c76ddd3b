#include "tools/unit/options.h"

#include <cstdlib>

const char kUnitUsage[] =
    "Usage: norvelo-unit [-b] [-f script] [-l file] [-m file] [-t seconds] [-- program [args...]]\n"
    "  -b          read the line at the unit's real rate: 2400 baud, 4.17 ms a byte\n"
    "  -f script   scripted mode: keys and pauses from the file ('-': standard input),\n"
    "              display frames written to standard output as text\n"
    "  -l file     the program's whole output also written to the file\n"
    "  -m file     the remote's codes, from a remote mappings file\n"
    "  -t seconds  after the script, how long the program may still run (default 10)\n"
    "  -- program  started with '-s <device>' after its name, e.g. -- norvelo list\n";

bool ParseUnitOptions(const std::vector<std::string>& args, UnitOptions& options, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      options.program.assign(args.begin() + static_cast<long>(i) + 1, args.end());
      if (options.program.empty()) {
        error = "no program after --";
        return false;
      }
      return true;
    }
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      continue;
    }
    if (arg == "-b") {
      options.realRate = true;
      continue;
    }
    if (arg == "-f" || arg == "-l" || arg == "-m" || arg == "-t") {
      if (i + 1 >= args.size()) {
        error = arg + " wants a value";
        return false;
      }
      const std::string& value = args[++i];
      if (arg == "-f") options.script = value;
      else if (arg == "-l") options.log = value;
      else if (arg == "-m") options.mappings = value;
      else {
        char* end = nullptr;
        const long seconds = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || seconds < 0 || seconds > 86400) {
          error = "-t wants whole seconds from 0 to 86400, not '" + value + "'";
          return false;
        }
        options.lingerSeconds = static_cast<int>(seconds);
      }
      continue;
    }
    error = "unknown argument '" + arg + "'";
    return false;
  }
  return true;
}

std::vector<std::string> ProgramArguments(const std::vector<std::string>& program,
                                          const std::string& device) {
  std::vector<std::string> out;
  if (program.empty()) return out;
  out.push_back(program[0]);
  out.push_back("-s");
  out.push_back(device);
  out.insert(out.end(), program.begin() + 1, program.end());
  return out;
}
