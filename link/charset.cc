#include "link/charset.h"

#include <cstdint>

namespace {

// ASCII spellings of the Latin-1 letters and signs 0xA0..0xFF.
constexpr const char* kAsciiSpelling[96] = {
    " ",   "!",  "c",  "L",  "?",   "Y",   "|",   "S",   " ",  "(c)", "a",   "<<",
    "-",   "-",  "(R)", "-", "o",   "+-",  "2",   "3",   "'",  "u",   "P",   ".",
    ",",   "1",  "o",  ">>", "1/4", "1/2", "3/4", "?",   "A",  "A",   "A",   "A",
    "A",   "A",  "AE", "C",  "E",   "E",   "E",   "E",   "I",  "I",   "I",   "I",
    "D",   "N",  "O",  "O",  "O",   "O",   "O",   "x",   "O",  "U",   "U",   "U",
    "U",   "Y",  "Th", "ss", "a",   "a",   "a",   "a",   "a",  "a",   "ae",  "c",
    "e",   "e",  "e",  "e",  "i",   "i",   "i",   "i",   "d",  "n",   "o",   "o",
    "o",   "o",  "o",  "/",  "o",   "u",   "u",   "u",   "u",  "y",   "th",  "y"};

// The accent that turns the base letter of 0xC0..0xFF into it, so that a
// letter spelled as base plus combining accent (tags written decomposed) can
// become the one Latin-1 byte: g grave, a acute, c circumflex, t tilde,
// d diaeresis, r ring, s cedilla, '-' none.
constexpr char kAccentOf[] =
    "gactdr-sgacdgacd-tgactd--gacda--"
    "gactdr-sgacdgacd-tgactd--gacda-d";

char AccentCode(uint32_t mark) {
  switch (mark) {
    case 0x300: return 'g';
    case 0x301: return 'a';
    case 0x302: return 'c';
    case 0x303: return 't';
    case 0x308: return 'd';
    case 0x30A: return 'r';
    case 0x327: return 's';
    default: return 0;
  }
}

bool IsCombiningMark(uint32_t cp) { return cp >= 0x300 && cp <= 0x36F; }

// Look-alikes for what Latin-1 lacks that titles commonly hold.
struct LookAlike {
  uint32_t cp;
  const char* text;
};
constexpr LookAlike kLookAlikes[] = {
    {0x2018, "'"},   {0x2019, "'"},  {0x201A, ","},   {0x201C, "\""}, {0x201D, "\""},
    {0x201E, "\""},  {0x2010, "-"},  {0x2011, "-"},   {0x2013, "-"},  {0x2014, "-"},
    {0x2026, "..."}, {0x20AC, "E"},  {0x0152, "OE"},  {0x0153, "oe"},
    // Spaces of other widths (French puts a narrow one before ? and !) and
    // the invisible ones, which would otherwise show as '?'.
    {0x2002, " "},   {0x2003, " "},  {0x2009, " "},   {0x202F, " "},  {0x200B, ""},
    {0x200C, ""},    {0x200D, ""},   {0xFEFF, ""}};

// One UTF-8 sequence at text[i]: its code point and length, 0 when the bytes
// there are not a well-formed sequence (overlong forms and surrogates
// included), -1 when they are a well-formed start cut off by the end.
int Decode(std::string_view text, size_t i, uint32_t& cp) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t b0 = byte(i);
  int length;
  uint32_t min;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, cp = b0 & 0x1Fu, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, cp = b0 & 0x0Fu, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, cp = b0 & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  for (int k = 1; k < length; ++k) {
    if (i + static_cast<size_t>(k) >= text.size()) return -1;
    const uint8_t b = byte(i + static_cast<size_t>(k));
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
    // Decide as early as the bytes allow, so a cut-off tail is judged too.
    if (k == 1 && length == 3 && ((b0 == 0xE0 && b < 0xA0) || (b0 == 0xED && b >= 0xA0)))
      return 0;
    if (k == 1 && length == 4 && ((b0 == 0xF0 && b < 0x90) || (b0 == 0xF4 && b >= 0x90)))
      return 0;
  }
  if (cp < min) return 0;
  return length;
}

// Valid UTF-8 holding at least one non-ASCII letter. A sequence cut off by the
// end counts as valid where the text may have been cut there.
bool NeedsConversion(std::string_view text, size_t cutLength) {
  bool nonAscii = false;
  for (size_t i = 0; i < text.size();) {
    uint32_t cp;
    const int length = Decode(text, i, cp);
    if (length == 0) return false;
    if (length < 0) return text.size() >= cutLength;
    nonAscii = nonAscii || length > 1;
    i += static_cast<size_t>(length);
  }
  return nonAscii;
}

const char* LookAlikeFor(uint32_t cp) {
  for (const LookAlike& entry : kLookAlikes)
    if (entry.cp == cp) return entry.text;
  return nullptr;
}

// The Latin-1 letter that base with this accent makes, or 0.
uint8_t Compose(char base, uint32_t mark) {
  const char accent = AccentCode(mark);
  if (accent == 0) return 0;
  for (unsigned b = 0xC0; b <= 0xFF; ++b) {
    const char* spelling = kAsciiSpelling[b - 0xA0];
    if (kAccentOf[b - 0xC0] == accent && spelling[0] == base && spelling[1] == '\0')
      return static_cast<uint8_t>(b);
  }
  return 0;
}

void AppendCodePoint(std::string& out, uint32_t cp, DisplayCharset charset) {
  if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
    out.push_back(' ');  // controls, and 0x80 is a frame marker
  } else if (cp < 0x7F) {
    out.push_back(static_cast<char>(cp));
  } else if (IsCombiningMark(cp)) {
    // The letter before already stands; in Latin-1 it may take the accent.
    const uint8_t composed =
        charset == DisplayCharset::kLatin1 && !out.empty() ? Compose(out.back(), cp) : 0;
    if (composed != 0) out.back() = static_cast<char>(composed);
  } else if (cp <= 0xFF) {
    // 0xA8 is the other frame marker: the diaeresis alone becomes a space.
    if (charset == DisplayCharset::kAscii || cp == 0xA8)
      out += kAsciiSpelling[cp - 0xA0];
    else
      out.push_back(static_cast<char>(cp));
  } else if (const char* text = LookAlikeFor(cp)) {
    out += text;
  } else {
    out.push_back('?');
  }
}

}  // namespace

bool ParseDisplayCharset(const char* value, DisplayCharset& charset) {
  charset = DisplayCharset::kLatin1;
  if (value == nullptr || *value == '\0') return true;
  std::string lower(value);
  for (char& ch : lower)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  if (lower == "latin1") return true;
  if (lower == "ascii") {
    charset = DisplayCharset::kAscii;
    return true;
  }
  if (lower == "raw") {
    charset = DisplayCharset::kRaw;
    return true;
  }
  return false;
}

std::string ToDisplayCharset(std::string_view title, DisplayCharset charset, size_t cutLength) {
  if (charset == DisplayCharset::kRaw || !NeedsConversion(title, cutLength))
    return std::string(title);
  std::string out;
  out.reserve(title.size());
  for (size_t i = 0; i < title.size();) {
    uint32_t cp;
    const int length = Decode(title, i, cp);
    if (length < 0) break;  // the cut-off letter at the end
    AppendCodePoint(out, cp, charset);
    i += static_cast<size_t>(length);
  }
  return out;
}
