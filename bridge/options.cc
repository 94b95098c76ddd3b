#include "bridge/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

const char kBridgeUsage[] =
    "Usage: norvelo-bridge [-s device] [-m mappings] [-l socket] [-p port]\n"
    "-s device     serial device of the control unit (default: /dev/ttyS0)\n"
    "-m file       remote mappings file, as the player's\n"
    "-l socket     lircd socket for key clients (default: /run/lirc/lircd)\n"
    "-p port       LCDd port for display clients on 127.0.0.1 (default: 13666)\n"
    "\n";

bool ReadBridgeOptions(int argc, char* const argv[], BridgeOptions& options, KeyMap& keys,
                       std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
      options.help = true;
      continue;
    }
    const bool takesValue =
        strcmp(arg, "-s") == 0 || strcmp(arg, "-m") == 0 || strcmp(arg, "-l") == 0 || strcmp(arg, "-p") == 0;
    if (!takesValue) {
      error = std::string("unknown option ") + arg;
      return false;
    }
    if (i + 1 >= argc) {
      error = std::string(arg) + " wants a value";
      return false;
    }
    const char* value = argv[++i];
    if (arg[1] == 's') {
      options.serport = value;
    } else if (arg[1] == 'm') {
      LoadIRCodes(value, keys);
    } else if (arg[1] == 'l') {
      if (*value == '\0') {
        error = "-l wants a socket path";
        return false;
      }
      options.socketPath = value;
    } else {
      char* end = nullptr;
      errno = 0;
      const long port = strtol(value, &end, 10);
      if (*value == '\0' || *end != '\0' || errno != 0 || port < 0 || port > 65535) {
        error = std::string("-p wants a port from 0 to 65535, not ") + value;
        return false;
      }
      options.port = static_cast<int>(port);
    }
  }
  return true;
}
