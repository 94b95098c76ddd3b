#include "console/engines.h"

#include "console/engine_mpg123.h"
#include "posix/child.h"
#include "posix/trace.h"

bool KnownPlayer(const std::string& player) { return player == "mpg123"; }

bool PlaysOwnList(const std::string& player) { return player == "mpg123"; }

std::unique_ptr<Engine> MakeEngine(const std::string& player, const Playlist& list) {
  if (player == "mpg123") {
    if (!FoundInPath("mpg123")) {
      Trace("Unable to find mpg123 in PATH!\n\n");
      return nullptr;
    }
    return std::make_unique<Mpg123Engine>(list);
  }
  Trace("Unknown player %s: mpg123 is the one there is\n\n", Printable(player).c_str());
  return nullptr;
}
