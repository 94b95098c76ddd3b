#include "tools/unit/screen.h"

#include <algorithm>
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

std::string FitRow(std::string_view row, size_t columns) {
  std::string out;
  size_t cells = 0;
  bool styled = false;
  for (size_t i = 0; i < row.size();) {
    const unsigned char b = static_cast<unsigned char>(row[i]);
    if (b == 0x1b && i + 1 < row.size() && row[i + 1] == '[') {
      // A control sequence: parameters, then one final byte.
      size_t end = i + 2;
      while (end < row.size() && !(row[end] >= 0x40 && row[end] <= 0x7E)) ++end;
      end = std::min(end + 1, row.size());
      out.append(row.substr(i, end - i));
      styled = true;
      i = end;
      continue;
    }
    if ((b & 0xC0) != 0x80) {
      if (cells == columns) {
        if (styled) out += "\x1b[m";  // a cut may fall inside reverse video
        return out;
      }
      ++cells;
    }
    out.push_back(static_cast<char>(b));
    ++i;
  }
  return out;
}

std::string RenderScreen(const ScreenModel& model) {
  std::vector<std::string> rows;
  rows.push_back(" Norvelo control unit on " + model.device);
  rows.push_back(model.program.empty()
                     ? " Start a program on it with: norvelo -s " + model.device + " list"
                     : std::string());
  const std::string border = "+" + std::string(kDisplayWidth, '-') + "+";
  rows.push_back("   " + border);
  if (model.anyFrame) {
    rows.push_back("   " + RenderDisplayRow(model.lines.line1, model.utf8));
    rows.push_back("   " + RenderDisplayRow(model.lines.line2, model.utf8));
  } else {
    rows.push_back("   " + RenderDisplayRow("", model.utf8) + "  (nothing received yet)");
    rows.push_back("   " + RenderDisplayRow("", model.utf8));
  }
  rows.push_back("   " + border);
  rows.emplace_back();
  rows.push_back(" Last key: " + (model.lastKey.empty() ? std::string("none") : model.lastKey));
  rows.emplace_back();
  rows.push_back(" Keys:");
  // As many legend columns as the width takes, at least one.
  size_t perRow = kLegendPerRow;
  if (model.columns > 0) perRow = std::clamp<size_t>(model.columns / kLegendColumn, 1, kLegendPerRow);
  for (size_t i = 0; i < model.legend.size(); i += perRow) {
    std::string row = "   ";
    for (size_t j = i; j < i + perRow && j < model.legend.size(); ++j) {
      std::string item = model.legend[j];
      if (j + 1 < i + perRow) item.resize(std::max(item.size() + 1, kLegendColumn), ' ');
      row += item;
    }
    rows.push_back(row);
  }
  if (!model.note.empty()) {
    rows.emplace_back();
    rows.push_back(" " + model.note);
  }
  if (!model.log.empty()) {
    rows.emplace_back();
    rows.push_back(" Whole output in " + model.log);
  }
  if (!model.program.empty()) {
    rows.emplace_back();
    rows.push_back(" --- " + model.program + " ---");
    for (const std::string& line : model.output) rows.push_back(" " + line);
  }
  // The last rows give way: a line feed on the terminal's last row would
  // scroll the display up.
  if (model.rows > 0 && rows.size() > model.rows) rows.resize(model.rows);
  std::string out = "\x1b[H";
  for (size_t i = 0; i < rows.size(); ++i) {
    out += model.columns > 0 ? FitRow(rows[i], model.columns) : rows[i];
    out += i + 1 < rows.size() ? kEol : "\x1b[K";
  }
  out += "\x1b[J";
  return out;
}
