#include <gtest/gtest.h>

#include "link/charset.h"

namespace {

std::string Utf8(uint32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

// Longer than any title here: no title is taken for a cut one.
constexpr size_t kNeverCut = 1000;

struct Case {
  const char* what;
  std::string title;
  std::string latin1, ascii;
};

TEST(DisplayCharset, TitlesInTheDisplaysCharacters) {
  const Case cases[] = {
      {"Italian accents", "Perché è così", "Perch\xE9 \xE8 cos\xEC", "Perche e cosi"},
      {"capitals whose second byte is a frame marker", "À Ë", "\xC0 \xCB", "A E"},
      {"look-alikes for what Latin-1 lacks", "It’s “Live” – 1999… €5 — ‘x’",
       "It's \"Live\" - 1999... E5 - 'x'", "It's \"Live\" - 1999... E5 - 'x'"},
      {"letters of no look-alike", "東京 Ωmega", "?? ?mega", "?? ?mega"},
      {"ligatures and letters spelled in two", "Œuvre Æsop ß", "OEuvre \xC6sop \xDF",
       "OEuvre AEsop ss"},
      {"diaeresis alone and C1 controls become spaces", "a¨b" + Utf8(0x80) + "c",
       "a b c", "a b c"},
      {"control bytes become spaces", "é\tx\x7Fy", "\xE9 x y", "e x y"},
      {"accents written apart are composed or dropped",
       "Perche" + Utf8(0x301) + " a" + Utf8(0x331), "Perch\xE9 a", "Perche a"},
      {"invisible characters vanish, odd spaces are spaces",
       Utf8(0xFEFF) + "Qui ?" + Utf8(0x202F) + "!", "Qui ? !", "Qui ? !"},
      {"plain ASCII goes out unchanged", "Plain\tASCII", "Plain\tASCII", "Plain\tASCII"},
      {"Latin-1 text is not UTF-8 and goes out unchanged", "Perch\xE9 \xA8",
       "Perch\xE9 \xA8", "Perch\xE9 \xA8"},
      {"overlong forms are not UTF-8", "a\xC0\xAF\xC3\xA9", "a\xC0\xAF\xC3\xA9",
       "a\xC0\xAF\xC3\xA9"},
      {"surrogates are not UTF-8", "\xED\xA0\x80\xC3\xA9", "\xED\xA0\x80\xC3\xA9",
       "\xED\xA0\x80\xC3\xA9"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToDisplayCharset(c.title, DisplayCharset::kLatin1, kNeverCut), c.latin1) << c.what;
    EXPECT_EQ(ToDisplayCharset(c.title, DisplayCharset::kAscii, kNeverCut), c.ascii) << c.what;
    EXPECT_EQ(ToDisplayCharset(c.title, DisplayCharset::kRaw, kNeverCut), c.title) << c.what;
  }
}

// A UTF-8 start at the end is a letter cut in half only in a title as long as
// its source cuts; in a shorter one it is a Latin-1 letter of 8-bit text.
TEST(DisplayCharset, ALetterIsCutOnlyWhereTheSourceCuts) {
  EXPECT_EQ(ToDisplayCharset("Città\xC3", DisplayCharset::kLatin1, 7), "Citt\xE0");
  EXPECT_EQ(ToDisplayCharset("Città\xC3", DisplayCharset::kAscii, 5), "Citta");
  EXPECT_EQ(ToDisplayCharset("Città\xC3", DisplayCharset::kLatin1, 8), "Città\xC3");
  EXPECT_EQ(ToDisplayCharset("Perch\xE9", DisplayCharset::kLatin1, kNeverCut), "Perch\xE9");
  EXPECT_EQ(ToDisplayCharset("Perch\xE9", DisplayCharset::kLatin1, 6), "Perch");
}

TEST(DisplayCharset, NoConvertedLetterIsAFrameMarkerOrAControl) {
  for (uint32_t cp = 1; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const std::string title = "é" + Utf8(cp);
    for (DisplayCharset charset : {DisplayCharset::kLatin1, DisplayCharset::kAscii}) {
      const std::string out = ToDisplayCharset(title, charset, kNeverCut);
      for (char ch : out) {
        const auto b = static_cast<unsigned char>(ch);
        ASSERT_TRUE(b >= 0x20 && b != 0x7F && b != 0x80 && b != 0xA8 &&
                    (charset == DisplayCharset::kLatin1 || b < 0x80))
            << "U+" << std::hex << cp << " gave byte " << unsigned{b};
      }
    }
  }
}

TEST(DisplayCharset, ChosenByTheEnvironmentValue) {
  const struct {
    const char* value;
    bool known;
    DisplayCharset charset;
  } cases[] = {
      {nullptr, true, DisplayCharset::kLatin1}, {"", true, DisplayCharset::kLatin1},
      {"latin1", true, DisplayCharset::kLatin1}, {"ASCII", true, DisplayCharset::kAscii},
      {"raw", true, DisplayCharset::kRaw},      {"utf8", false, DisplayCharset::kLatin1},
      {"latin", false, DisplayCharset::kLatin1},
  };
  for (const auto& c : cases) {
    DisplayCharset charset = DisplayCharset::kRaw;
    EXPECT_EQ(ParseDisplayCharset(c.value, charset), c.known) << (c.value ? c.value : "unset");
    EXPECT_EQ(charset, c.charset) << (c.value ? c.value : "unset");
  }
}

}  // namespace
