// In-place trimming used for play-list lines, decoder texts and mappings lines.
#pragma once

#include <string>

// Removes control characters and spaces (bytes 0x00..0x20) at both ends, and a
// UTF-8 byte-order mark at the start. Bytes from 0x80 up are text, not blank,
// so accented letters at either end stay.
void TrimString(std::string& text);
