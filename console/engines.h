// The engines the player can drive, by the name "-p" gives them.
#pragma once

#include <memory>
#include <string>

#include "console/engine.h"
#include "console/playlist.h"

// "mpg123" (the default), "mpv", "mpd", "mpris" or "mpris:NAME".
constexpr char kDefaultPlayer[] = "mpg123";

// True when player names an engine.
bool KnownPlayer(const std::string& player);

// True when the engine plays the player's own list (given on the command
// line or scanned); false when the list is the engine's.
bool PlaysOwnList(const std::string& player);

// What a scan of a folder takes for a track, for player.
const Extensions& ScannedNames(const std::string& player);

// The engine for player over list (which it keeps a reference to), or nullptr
// with the start-up message printed (a program that is not on the search
// path, say).
std::unique_ptr<Engine> MakeEngine(const std::string& player, const Playlist& list);
