// Titles as every engine composes them for line 1 and the "Track" trace.
#pragma once

#include <string>

// Artist - album - title in this order, the empty ones left out.
std::string JoinTitle(const std::string& artist, const std::string& album,
                      const std::string& title);

// A file's name without its folder and extension, for an entry without tags
// ("/m/01 Song.flac" gives "01 Song"); a URL's last part the same way.
std::string NameOfPath(const std::string& path);
