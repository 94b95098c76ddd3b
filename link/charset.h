// Titles in the display's own characters. The control unit shows one byte per
// character from a Latin-1-like set, while today's decoder reports tags in
// UTF-8, whose letters hold the frame markers 0x80 and 0xA8 ("è" is C3 A8).
#pragma once

#include <string>
#include <string_view>

enum class DisplayCharset {
  kLatin1,  // Latin-1, with a few look-alikes for what it lacks
  kAscii,   // accents dropped, everything else spelled in ASCII
  kRaw,     // bytes unchanged
};

// The environment variable that chooses the charset.
constexpr char kDisplayCharsetVariable[] = "NORVELO_DISPLAY_CHARSET";

// "latin1", "ascii" or "raw", in any case; unset (nullptr) or empty is latin1.
// False for any other value, which leaves charset at latin1.
bool ParseDisplayCharset(const char* value, DisplayCharset& charset);

// The title as the display should get it. Only text that is valid UTF-8 and
// not plain ASCII is converted; anything else (a Latin-1 tag, an old decoder)
// goes out unchanged, as does everything in raw mode. Converted text is one
// byte per character and holds no control byte and neither frame marker: a
// letter the charset lacks becomes a look-alike or '?', "¨" a space.
// cutLength is the shortest length at which the title's source may have cut
// it: a UTF-8 start at the very end of a title that long is a letter cut in
// half and left out, while in a shorter title it shows that the text is not
// UTF-8 at all ("Perch\xe9" in Latin-1).
std::string ToDisplayCharset(std::string_view title, DisplayCharset charset, size_t cutLength);
