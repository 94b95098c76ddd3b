#include "console/engines.h"

#include "console/engine_mpd.h"
#include "console/engine_mpg123.h"
#include "console/engine_mpris.h"
#include "console/engine_mpv.h"
#include "posix/child.h"
#include "posix/trace.h"

namespace {

constexpr char kMprisNamed[] = "mpris:";

// "mpris:NAME": the player of that name; "" for any other.
bool NamesMprisPlayer(const std::string& player) {
  return player.size() > sizeof kMprisNamed - 1 &&
         player.compare(0, sizeof kMprisNamed - 1, kMprisNamed) == 0;
}

}  // namespace

bool KnownPlayer(const std::string& player) {
  return player == "mpg123" || player == "mpv" || player == "mpd" || player == "mpris" ||
         NamesMprisPlayer(player);
}

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
  if (player == "mpd") return std::make_unique<MpdEngine>();
  if (player == "mpris") return std::make_unique<MprisEngine>("");
  if (NamesMprisPlayer(player))
    return std::make_unique<MprisEngine>(player.substr(sizeof kMprisNamed - 1));
  Trace("Unknown player %s: mpg123, mpv, mpd, mpris or mpris:NAME\n\n", Printable(player).c_str());
  return nullptr;
}
