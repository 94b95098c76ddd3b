#include "console/options.h"

#include <cstring>

#include "version.h"

const char kUsageText[] =
    "Norvelo plugin v" NORVELO_RELEASE "\n"
    "Usage: norvelo [options] list\n"
    "-s device     I/O device (default: /dev/ttyS0)\n"
    "-r            scans recursively directory 'list'\n"
    "-m file       remote mappings file\n"
    "\n";

Options ReadOptions(int argc, char* const argv[], KeyMap& keys) {
  Options options;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const char* arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (strcmp(arg, "-s") == 0) {
      if (hasValue) options.serport = argv[++i];
    } else if (strcmp(arg, "-m") == 0) {
      if (hasValue) LoadIRCodes(argv[++i], keys);
    } else if (strcmp(arg, "-p") == 0) {
      if (hasValue) options.player = argv[++i];
    } else if (strcmp(arg, "-r") == 0) {
      options.recursive = true;
    }
  }
  for (; i < argc; ++i) options.list.emplace_back(argv[i]);
  return options;
}
