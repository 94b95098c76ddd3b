#include "tools/unit/screen.h"

#include <cstdio>

#include "link/link.h"

namespace {
constexpr const char* kEol = "\x1b[K\r\n";
constexpr size_t kPaneWidth = 78;
constexpr size_t kLegendColumn = 25;
constexpr size_t kLegendPerRow = 3;

// A cell as a Latin-1 unit shows the byte: ASCII and the Latin-1 letters as
// they are (the letters need a UTF-8 terminal), the rest marked in reverse
// video, as '?' for a letter the terminal cannot show and '.' for a control.
void AppendCell(std::string& out, unsigned char b, bool utf8) {
  if (b >= 0x20 && b < 0x7F) {
    out.push_back(static_cast<char>(b));
  } else if (utf8 && b == 0xAD) {
    out.push_back('-');  // the soft hyphen, which a terminal would not draw
  } else if (utf8 && b >= 0xA0) {
    out.push_back(static_cast<char>(0xC0 | (b >> 6)));
    out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
  } else {
    out += "\x1b[7m";
    out.push_back(b >= 0xA0 ? '?' : '.');
    out += "\x1b[27m";
  }
}
}  // namespace

std::string EscapeLine(std::string_view line) {
  std::string out;
  for (char ch : line) {
    const unsigned char b = static_cast<unsigned char>(ch);
    if (b == '\\' || b == '"') {
      out.push_back('\\');
      out.push_back(ch);
    } else if (b >= 0x20 && b < 0x7F) {
      out.push_back(ch);
    } else {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out;
}

std::string FrameRecord(double seconds, const DisplayLines& lines) {
  char stamp[32];
  snprintf(stamp, sizeof stamp, "%.3f", seconds);
  return std::string(stamp) + " \"" + EscapeLine(lines.line1) + "\" \"" + EscapeLine(lines.line2) +
         "\"\n";
}

std::string RenderDisplayRow(std::string_view line, bool utf8) {
  std::string out = "|";
  for (size_t i = 0; i < static_cast<size_t>(kDisplayWidth); ++i)
    AppendCell(out, i < line.size() ? static_cast<unsigned char>(line[i]) : ' ', utf8);
  out += "|";
  for (size_t i = kDisplayWidth; i < line.size(); ++i)
    AppendCell(out, static_cast<unsigned char>(line[i]), utf8);
  return out;
}

void OutputPane::Add(const char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b == '\n') {
      lines_.push_back(partial_);
      partial_.clear();
      while (lines_.size() > rows_) lines_.pop_front();
    } else if (b == '\t') {
      partial_.push_back(' ');
    } else if (b >= 0x20 && b != 0x7F && partial_.size() < kPaneWidth) {
      // Terminal controls from the program would wreck the screen.
      partial_.push_back(static_cast<char>(b));
    }
  }
}

std::vector<std::string> OutputPane::Lines() const {
  std::vector<std::string> out(lines_.begin(), lines_.end());
  if (!partial_.empty()) out.push_back(partial_);
  while (out.size() > rows_) out.erase(out.begin());
  return out;
}

std::string RenderScreen(const ScreenModel& model) {
  std::string out = "\x1b[H";
  out += " Norvelo control unit on " + model.device + kEol;
  if (model.program.empty()) out += " Start a program on it with: norvelo -s " + model.device + " list";
  out += kEol;
  const std::string border = "+" + std::string(kDisplayWidth, '-') + "+";
  out += "   " + border + kEol;
  if (model.anyFrame) {
    out += "   " + RenderDisplayRow(model.lines.line1, model.utf8) + kEol;
    out += "   " + RenderDisplayRow(model.lines.line2, model.utf8) + kEol;
  } else {
    out += "   " + RenderDisplayRow("", model.utf8) + "  (nothing received yet)" + kEol;
    out += "   " + RenderDisplayRow("", model.utf8) + kEol;
  }
  out += "   " + border + kEol;
  out += kEol;
  out += " Last key: " + (model.lastKey.empty() ? std::string("none") : model.lastKey) + kEol;
  out += kEol;
  out += " Keys:" + std::string(kEol);
  for (size_t i = 0; i < model.legend.size(); i += kLegendPerRow) {
    std::string row = "   ";
    for (size_t j = i; j < i + kLegendPerRow && j < model.legend.size(); ++j) {
      std::string item = model.legend[j];
      if (j + 1 < i + kLegendPerRow) item.resize(std::max(item.size() + 1, kLegendColumn), ' ');
      row += item;
    }
    out += row + kEol;
  }
  if (!model.note.empty()) out += kEol + (" " + model.note) + kEol;
  if (!model.program.empty()) {
    out += kEol;
    out += " --- " + model.program + " ---" + kEol;
    for (const std::string& line : model.output) out += " " + line + kEol;
  }
  out += "\x1b[J";
  return out;
}
