#include "tools/unit/screen.h"

#include <gtest/gtest.h>

#include "tools/unit/options.h"

TEST(FrameRecord, OneLinePerFrameWhateverTheBytes) {
  DisplayLines lines{"Say \"hi\" \\ \xE9", std::string("Trk 1\n\x01", 7)};
  EXPECT_EQ(FrameRecord(1.5, lines), "1.500 \"Say \\\"hi\\\" \\\\ \\xE9\" \"Trk 1\\x0A\\x01\"\n");
}

TEST(RenderDisplayRow, SixteenCellsThenTheOverflow) {
  EXPECT_EQ(RenderDisplayRow("abc", false), "|abc             |");
  EXPECT_EQ(RenderDisplayRow(">>>>>>>>>>>>>>>> ", false), "|>>>>>>>>>>>>>>>>| ");
  EXPECT_EQ(RenderDisplayRow(std::string(16, 'x') + "yz", false), "|" + std::string(16, 'x') + "|yz");
}

TEST(RenderDisplayRow, BytesShowAsOnALatin1Unit) {
  // A UTF-8 terminal shows the Latin-1 letters plainly; controls are marked.
  EXPECT_EQ(RenderDisplayRow("Perch\xE9 \xAD\x85\x01", true),
            "|Perch\xC3\xA9 -\x1b[7m.\x1b[27m\x1b[7m.\x1b[27m      |");
  // Elsewhere a letter cannot be shown and is marked.
  EXPECT_EQ(RenderDisplayRow("\xE9", false).substr(0, 12), "|\x1b[7m?\x1b[27m ");
}

TEST(OutputPane, KeepsTheLastRowsWithoutControls) {
  OutputPane pane(2);
  const std::string text = "one\ntwo\nthr\x1b[2Jee\npart";
  pane.Add(text.data(), text.size());
  const auto lines = pane.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "thr[2Jee");
  EXPECT_EQ(lines[1], "part");
}

TEST(FitRow, CutsCellsNotEscapesOrLetters) {
  EXPECT_EQ(FitRow("abcdef", 4), "abcd");
  EXPECT_EQ(FitRow("ab", 4), "ab");
  EXPECT_EQ(FitRow("\xC3\xA9t\xC3\xA9", 2), "\xC3\xA9t");
  // Reverse video cut short is ended, so the rest of the row stays plain.
  EXPECT_EQ(FitRow("a\x1b[7m.x\x1b[27m", 2), "a\x1b[7m.\x1b[m");
}

TEST(UnitOptions, ProgramAfterDashesGetsTheDevice) {
  UnitOptions options;
  std::string error;
  ASSERT_TRUE(ParseUnitOptions({"-b", "-f", "keys.txt", "-l", "out.log", "-t", "3", "--", "norvelo", "-r", "/music"},
                               options, error));
  EXPECT_EQ(options.log, "out.log");
  EXPECT_TRUE(options.realRate);
  EXPECT_EQ(options.script, "keys.txt");
  EXPECT_EQ(options.lingerSeconds, 3);
  EXPECT_EQ(ProgramArguments(options.program, "/dev/pts/9"),
            (std::vector<std::string>{"norvelo", "-s", "/dev/pts/9", "-r", "/music"}));
  EXPECT_TRUE(ProgramArguments({}, "/dev/pts/9").empty());
}

TEST(UnitOptions, WrongCommandLinesAreRefused) {
  UnitOptions options;
  std::string error;
  EXPECT_FALSE(ParseUnitOptions({"-t", "soon"}, options, error));
  EXPECT_FALSE(ParseUnitOptions({"-t", "-1"}, options, error));
  EXPECT_FALSE(ParseUnitOptions({"-f"}, options, error));
  EXPECT_FALSE(ParseUnitOptions({"--"}, options, error));
  EXPECT_FALSE(ParseUnitOptions({"norvelo"}, options, error));
  EXPECT_EQ(error, "unknown argument 'norvelo'");
}
