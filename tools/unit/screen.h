// What the emulator shows: the display in a frame with the legend in an
// interactive terminal, or one text record per frame in the scripted mode.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "link/display_reader.h"

// Printable ASCII as it is, backslash and double quote escaped, every other
// byte as \xNN, so that a record stays one line whatever the host sent.
std::string EscapeLine(std::string_view line);

// One record of the scripted mode: seconds since the start and both lines,
// as in: 1.503 "Title of the son" "Trk 1 (0:01)    ".
std::string FrameRecord(double seconds, const DisplayLines& lines);

// One display row: 16 cells between two borders and whatever the host sent
// beyond the 16th character after the right border. Bytes show as on a
// Latin-1 unit: 0xA0..0xFF as their Latin-1 letter where the terminal takes
// UTF-8 (else '?' in reverse video); controls, 0x7F..0x9F as '.' in reverse
// video.
std::string RenderDisplayRow(std::string_view line, bool utf8);

// The lines a program writes, for the pane under the display.
class OutputPane {
 public:
  explicit OutputPane(size_t rows) : rows_(rows) {}
  void Add(const char* bytes, size_t count);
  // Finished lines and the unfinished one, oldest first.
  std::vector<std::string> Lines() const;

 private:
  size_t rows_;
  std::deque<std::string> lines_;
  std::string partial_;
};

struct ScreenModel {
  std::string device;
  bool anyFrame = false;
  DisplayLines lines;
  std::string lastKey;
  std::vector<std::string> legend;
  std::string program;  // heading of the output pane; empty: no pane
  std::vector<std::string> output;
  std::string note;
  std::string log;  // where the program's whole output goes; empty: nowhere
  bool utf8 = false;
  // The terminal's size; 0 when unknown. Rows are cut to the width and the
  // screen to the height, so that nothing wraps or scrolls: the display keeps
  // its place in a narrow terminal.
  size_t columns = 0, rows = 0;
};

// A row cut to at most columns cells; escape sequences take none, and a UTF-8
// letter takes one.
std::string FitRow(std::string_view row, size_t columns);

// The whole screen, drawn from the top left over what was there before.
std::string RenderScreen(const ScreenModel& model);
