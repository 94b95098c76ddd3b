// Line 1's text for an entry, the same whoever plays it: the decoder, a
// music server or a desktop player.
#pragma once

#include <string>

// Artist, album, title in this order, the empty ones left out, " - " between.
std::string JoinTitle(const std::string& artist, const std::string& album,
                      const std::string& title);

// What an untagged entry is called: the last part of its path or URL,
// without the extension.
std::string FileNameOf(const std::string& location);
