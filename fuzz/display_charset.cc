// Titles in any bytes through the display's character sets: raw passes them
// as they are; a converted title is one byte per character, never a frame
// marker nor a control, and in ASCII mode plain ASCII.
//
// Input: byte 0 picks the charset (0 latin1, 1 ascii, 2 raw); the rest is the title.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "link/charset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const DisplayCharset charsets[] = {DisplayCharset::kLatin1, DisplayCharset::kAscii,
                                     DisplayCharset::kRaw};
  const DisplayCharset charset = charsets[in.Byte() % 3];
  const std::string title = in.Text(in.left());
  const std::string out = ToDisplayCharset(title, charset, title.size());
  if (charset == DisplayCharset::kRaw) FUZZ_CHECK(out == title);
  if (out == title) return 0;
  // The longest spellings ("...", "1/4") stand for letters of 2 or 3 bytes.
  FUZZ_CHECK(out.size() <= 2 * title.size());
  for (char ch : out) {
    const auto b = static_cast<uint8_t>(ch);
    FUZZ_CHECK(b >= 0x20 && b != 0x7F && b != 0x80 && b != 0xA8);
    FUZZ_CHECK(charset != DisplayCharset::kAscii || b < 0x80);
  }
  return 0;
}
