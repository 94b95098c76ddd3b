#include "console/options.h"

#include <algorithm>
#include <cstring>

#include "version.h"

const char kUsageText[] =
    "Norvelo plugin v" NORVELO_RELEASE "\n"
    "Usage: norvelo [options] list\n"
    "-s device     I/O device (default: /dev/ttyS0)\n"
    "-r            scans recursively directory 'list'\n"
    "-m file       remote mappings file\n"
    "\n";

const char kVersionText[] = "norvelo " NORVELO_VERSION "\n";

namespace {
bool Is(const char* arg, const char* shortName, const char* longName) {
  return strcmp(arg, shortName) == 0 || strcmp(arg, longName) == 0;
}

// What an option that takes a value wants, for its message; nullptr for the
// others.
const char* ValueOf(const char* arg) {
  if (strcmp(arg, "-s") == 0) return "a device";
  if (strcmp(arg, "-m") == 0) return "a file";
  if (strcmp(arg, "-p") == 0) return "a player";
  if (strcmp(arg, "-S") == 0) return "a file";
  return nullptr;
}
}  // namespace

Options ReadOptions(int argc, char* const argv[]) {
  Options options;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const char* arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (Is(arg, "-h", "--help")) {
      options.action = Options::Action::kHelp;
      return options;
    }
    if (Is(arg, "-V", "--version")) {
      options.action = Options::Action::kVersion;
      return options;
    }
    if (const char* wanted = ValueOf(arg)) {
      if (!hasValue) {
        options.action = Options::Action::kFail;
        options.message = std::string(arg) + " option needs " + wanted + "!\n\n";
        return options;
      }
      const char* value = argv[++i];
      if (arg[1] == 's')
        options.serport = value;
      else if (arg[1] == 'm')
        options.mappings.emplace_back(value);
      else if (arg[1] == 'p')
        options.player = value;
      else
        options.stateFile = value;
    } else if (strcmp(arg, "-r") == 0) {
      options.recursive = true;
    } else if (std::find(options.unknown.begin(), options.unknown.end(), arg) ==
               options.unknown.end()) {
      options.unknown.emplace_back(arg);
    }
  }
  for (; i < argc; ++i) options.list.emplace_back(argv[i]);
  return options;
}

void LoadMappings(const Options& options, KeyMap& keys) {
  for (const std::string& path : options.mappings) LoadIRCodes(path, keys);
}
