#include "console/engines.h"

#include "console/engine_mpg123.h"
#include "console/engine_mpv.h"
#include "posix/child.h"
#include "posix/trace.h"

bool KnownPlayer(const std::string& player) { return player == "mpg123" || player == "mpv"; }

bool PlaysOwnList(const std::string& player) { return player == "mpg123" || player == "mpv"; }

const Extensions& ScannedNames(const std::string& player) {
  return player == "mpv" ? kMpvNames : kMp3Names;
}

std::unique_ptr<Engine> MakeEngine(const std::string& player, const Playlist& list) {
  if (player == "mpg123") {
    if (!FoundInPath("mpg123")) {
      Trace("Unable to find mpg123 in PATH!\n\n");
      return nullptr;
    }
    return std::make_unique<Mpg123Engine>(list);
  }
  if (player == "mpv") {
    if (!FoundInPath("mpv")) {
      Trace("Unable to find mpv in PATH!\n\n");
      return nullptr;
    }
    return std::make_unique<MpvEngine>(list);
  }
  Trace("Unknown player %s: mpg123 and mpv are the ones there are\n\n", Printable(player).c_str());
  return nullptr;
}
