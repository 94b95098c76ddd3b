#include "bridge/screen.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "link/link.h"
#include "link/ticker.h"

namespace {

// Positions, lengths and speeds beyond this are errors: nothing on a 16x2
// display needs them, and the arithmetic on them stays far from overflow.
constexpr long kLargestNumber = 100000;

struct TypeName {
  const char* name;
  WidgetType type;
};
constexpr TypeName kTypes[] = {
    {"string", WidgetType::kString}, {"title", WidgetType::kTitle}, {"hbar", WidgetType::kHbar},
    {"vbar", WidgetType::kVbar},     {"pbar", WidgetType::kPbar},   {"icon", WidgetType::kIcon},
    {"scroller", WidgetType::kScroller}, {"frame", WidgetType::kFrame}, {"num", WidgetType::kNum}};

bool Number(const std::string& text, int& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long value = strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < -kLargestNumber || value > kLargestNumber) return false;
  out = static_cast<int>(value);
  return true;
}

// Takes the numbers of params[from..from+count) into the outs, all or none.
bool Numbers(const std::vector<std::string>& params, size_t from, std::initializer_list<int*> outs) {
  int values[8];
  size_t i = 0;
  for (int* out : outs) {
    (void)out;
    if (from + i >= params.size() || !Number(params[from + i], values[i])) return false;
    ++i;
  }
  i = 0;
  for (int* out : outs) *out = values[i++];
  return true;
}

std::string Text(const std::string& text, DisplayCharset charset) {
  // No widget holds more than the display could show many times over.
  constexpr size_t kLongestText = 1024;
  return ToDisplayCharset(std::string_view(text).substr(0, kLongestText), charset, kLongestText);
}

const char* Expecting(WidgetType type) {
  switch (type) {
    case WidgetType::kString: return "x y text";
    case WidgetType::kTitle: return "text";
    case WidgetType::kHbar:
    case WidgetType::kVbar: return "x y length";
    case WidgetType::kPbar: return "x y width promille [begin-label [end-label]]";
    case WidgetType::kIcon: return "x y iconname";
    case WidgetType::kScroller: return "left top right bottom direction speed text";
    case WidgetType::kFrame: return "left top right bottom width height direction speed";
    case WidgetType::kNum: return "x digit";
  }
  return "";
}

// The rows being drawn, and the rectangle that clips them (1-based, inclusive).
struct Canvas {
  Lines rows;
  int left = 1, top = 1, right = kDisplayWidth, bottom = kRows;

  void Put(int col, int row, std::string_view text) {
    if (row < top || row > bottom || row < 1 || row > kRows) return;
    for (size_t i = 0; i < text.size(); ++i) {
      const long c = static_cast<long>(col) + static_cast<long>(i);
      if (c < left || c < 1) continue;
      if (c > right || c > kDisplayWidth) break;
      // The cell as the unit will show it: a tab or a line feed would not
      // stay in its cell, a marker would start a line.
      rows[static_cast<size_t>(row - 1)][static_cast<size_t>(c - 1)] = LineTextByte(text[i]);
    }
  }
};

// Cells of a bar of `pixels` in cells of `cell` pixels, half a cell rounding up.
int Cells(int pixels, int cell) { return pixels <= 0 ? 0 : (pixels + cell / 2) / cell; }

char IconCell(const std::string& name) {
  if (name == "ARROW_UP") return '^';
  if (name == "ARROW_DOWN") return 'v';
  if (name == "ARROW_LEFT") return '<';
  if (name == "ARROW_RIGHT") return '>';
  if (name == "BLOCK_FILLED") return '#';
  return '*';
}

int ScrollerWidth(const Widget& w) { return w.right - w.x + 1; }

// Chunks of a vertical scroller's text, one row each.
int Chunks(const Widget& w) {
  const int width = ScrollerWidth(w);
  if (width <= 0) return 0;
  return (static_cast<int>(w.text.size()) + width - 1) / width;
}

void DrawScroller(Canvas& canvas, const Widget& w) {
  const int width = ScrollerWidth(w);
  if (width <= 0) return;
  const int length = static_cast<int>(w.text.size());
  if (w.direction == 'v') {
    for (int row = w.y; row <= w.bottom && row <= kRows; ++row) {
      const long start = static_cast<long>(w.offset + row - w.y) * width;
      if (start >= length) break;
      canvas.Put(w.x, row, std::string_view(w.text).substr(static_cast<size_t>(start),
                                                             static_cast<size_t>(width)));
    }
    return;
  }
  if (length <= width) {
    canvas.Put(w.x, w.y, w.text);
  } else if (w.direction == 'm') {
    // Round and round, a blank between the end and the start.
    const std::string ring = w.text + " ";
    std::string window;
    for (int i = 0; i < width; ++i)
      window.push_back(ring[static_cast<size_t>(w.offset + i) % ring.size()]);
    canvas.Put(w.x, w.y, window);
  } else {
    canvas.Put(w.x, w.y, std::string_view(w.text).substr(static_cast<size_t>(w.offset),
                                                          static_cast<size_t>(width)));
  }
}

void DrawWidget(Canvas& canvas, const Widget& w) {
  switch (w.type) {
    case WidgetType::kString: canvas.Put(w.x, w.y, w.text); break;
    case WidgetType::kTitle: canvas.Put(1, 1, TickerWindow(w.text, w.offset, true)); break;
    case WidgetType::kHbar: canvas.Put(w.x, w.y, std::string(static_cast<size_t>(std::min(
                                                           Cells(w.value, kCellWidth), kDisplayWidth)), '#'));
      break;
    case WidgetType::kVbar:
      for (int i = 0; i < Cells(w.value, kCellHeight) && i < kRows; ++i) canvas.Put(w.x, w.y - i, "#");
      break;
    case WidgetType::kPbar: {
      const int width = std::max(0, std::min(w.width, kDisplayWidth));
      const int filled = std::max(0, std::min(width, static_cast<int>((static_cast<long>(w.value) * width + 500) / 1000)));
      const std::string bar = std::string(static_cast<size_t>(filled), '#') +
                              std::string(static_cast<size_t>(width - filled), '-');
      canvas.Put(w.x, w.y, w.label1 + bar + w.label2);
      break;
    }
    case WidgetType::kIcon: canvas.Put(w.x, w.y, std::string(1, IconCell(w.text))); break;
    case WidgetType::kScroller: DrawScroller(canvas, w); break;
    case WidgetType::kNum: canvas.Put(w.x, 1, std::string(1, w.value == 10 ? ':' : static_cast<char>('0' + w.value)));
      break;
    case WidgetType::kFrame: break;  // only its widgets are drawn
  }
}

// How often the widget's text moves, or 0 when it stands still.
uint64_t MovePeriod(const Widget& w) {
  if (!w.set) return 0;
  const int length = static_cast<int>(w.text.size());
  if (w.type == WidgetType::kTitle) return length > kDisplayWidth ? kTitleStepMs : 0;
  if (w.type != WidgetType::kScroller || ScrollerWidth(w) <= 0) return 0;
  const bool moves = w.direction == 'v' ? Chunks(w) > w.bottom - w.y + 1 : length > ScrollerWidth(w);
  if (!moves) return 0;
  const uint64_t period = static_cast<uint64_t>(std::max(w.speed, 1)) * 125u;
  return std::max(period, kFastestScrollMs);
}

void Move(Widget& w) {
  const int length = static_cast<int>(w.text.size());
  if (w.type == WidgetType::kTitle) {
    TickerAdvance(w.offset, w.step, length);
  } else if (w.direction == 'v') {
    w.offset = (w.offset + 1) % std::max(1, Chunks(w));
  } else if (w.direction == 'm') {
    w.offset = (w.offset + 1) % (length + 1);
  } else {
    w.offset = w.offset + 1 > length - ScrollerWidth(w) ? 0 : w.offset + 1;
  }
}

// New text under a moving window: the window stays where it was when it can,
// so that text updated every second (a clock in a title) still gets read to
// the end.
void KeepOffsetInside(Widget& w) {
  const int length = static_cast<int>(w.text.size());
  int last = 0;
  if (w.type == WidgetType::kTitle) last = std::max(0, length - kDisplayWidth);
  else if (w.direction == 'v') last = std::max(0, Chunks(w) - 1);
  else if (w.direction == 'm') last = length;
  else last = std::max(0, length - ScrollerWidth(w));
  if (w.offset > last) w.offset = 0;
}

}  // namespace

bool ParseWidgetType(std::string_view name, WidgetType& type) {
  for (const TypeName& entry : kTypes)
    if (name == entry.name) {
      type = entry.type;
      return true;
    }
  return false;
}

std::string SetWidget(Widget& widget, const std::vector<std::string>& params, DisplayCharset charset) {
  Widget w = widget;
  bool ok = false;
  switch (w.type) {
    case WidgetType::kString:
      ok = params.size() == 3 && Numbers(params, 0, {&w.x, &w.y});
      if (ok) w.text = Text(params[2], charset);
      break;
    case WidgetType::kTitle:
      ok = params.size() == 1;
      if (ok) w.text = Text(params[0], charset);
      break;
    case WidgetType::kHbar:
    case WidgetType::kVbar: ok = params.size() == 3 && Numbers(params, 0, {&w.x, &w.y, &w.value}); break;
    case WidgetType::kPbar:
      ok = params.size() >= 4 && params.size() <= 6 && Numbers(params, 0, {&w.x, &w.y, &w.width, &w.value});
      if (ok) {
        w.label1 = params.size() > 4 ? Text(params[4], charset) : "";
        w.label2 = params.size() > 5 ? Text(params[5], charset) : "";
      }
      break;
    case WidgetType::kIcon:
      ok = params.size() == 3 && Numbers(params, 0, {&w.x, &w.y});
      if (ok) w.text = params[2];
      break;
    case WidgetType::kScroller:
      ok = params.size() == 7 && Numbers(params, 0, {&w.x, &w.y, &w.right, &w.bottom}) &&
           (params[4] == "h" || params[4] == "v" || params[4] == "m") && Number(params[5], w.speed);
      if (ok) {
        w.direction = params[4][0];
        w.text = Text(params[6], charset);
      }
      break;
    case WidgetType::kFrame: {
      int width = 0, height = 0;
      ok = params.size() == 8 && Numbers(params, 0, {&w.x, &w.y, &w.right, &w.bottom, &width, &height}) &&
           (params[6] == "h" || params[6] == "v") && Number(params[7], w.speed);
      break;
    }
    case WidgetType::kNum:
      ok = params.size() == 2 && Numbers(params, 0, {&w.x, &w.value}) && w.value >= 0 && w.value <= 10;
      break;
  }
  if (!ok) return std::string("expected ") + Expecting(w.type);
  w.set = true;
  KeepOffsetInside(w);
  widget = std::move(w);
  return "";
}

bool ParsePriority(std::string_view value, int& priority) {
  static const char* const kNames[] = {"hidden", "background", "info", "foreground", "alert", "input"};
  for (int i = 0; i <= kInput; ++i)
    if (value == kNames[i]) {
      priority = i;
      return true;
    }
  int number = 0;
  if (!Number(std::string(value), number) || number < 1) return false;
  priority = number <= 64 ? kForeground : number <= 192 ? kInfo : kBackground;
  return true;
}

std::string SetScreen(Screen& screen, const std::vector<std::string>& params) {
  Screen s = screen;
  for (size_t i = 0; i < params.size(); i += 2) {
    std::string name = params[i];
    // Real clients send the attribute names with and without the dash.
    if (!name.empty() && name[0] == '-') name.erase(0, 1);
    if (i + 1 >= params.size()) return "attribute " + name + " without a value";
    const std::string& value = params[i + 1];
    int number = 0;
    if (name == "name") {
      s.name = value;
    } else if (name == "priority") {
      if (!ParsePriority(value, s.priority)) return "unknown priority";
    } else if (name == "duration") {
      if (!Number(value, number) || number < 0) return "duration wants eighths of a second";
      s.duration = number;
    } else if (name == "heartbeat") {
      if (value != "on" && value != "off" && value != "open") return "heartbeat wants on, off or open";
      // The unit has no heart to blink: only a screen that asks for it gets one.
      s.heartbeat = value == "on";
    } else if (name == "wid" || name == "hgt" || name == "timeout" || name == "cursor_x" ||
               name == "cursor_y") {
      if (!Number(value, number)) return name + " wants a number";
    } else if (name != "backlight" && name != "cursor") {
      return "unknown attribute " + name;
    }
  }
  screen = std::move(s);
  return "";
}

Lines RenderScreen(const Screen& screen, uint64_t nowMs) {
  Canvas canvas;
  canvas.rows.fill(std::string(kDisplayWidth, ' '));
  for (const Widget& w : screen.widgets) {
    if (!w.set) continue;
    if (w.frame.empty()) {
      DrawWidget(canvas, w);
      continue;
    }
    // Inside its frame: placed from the frame's corner, clipped to it.
    for (const Widget& f : screen.widgets) {
      if (f.id != w.frame || f.type != WidgetType::kFrame || !f.set) continue;
      Canvas inside = canvas;
      inside.left = f.x, inside.top = f.y, inside.right = f.right, inside.bottom = f.bottom;
      Widget placed = w;
      placed.x = f.x + w.x - 1;
      placed.y = f.y + w.y - 1;
      placed.right = f.x + w.right - 1;
      placed.bottom = f.y + w.bottom - 1;
      DrawWidget(inside, placed);
      canvas.rows = inside.rows;
    }
  }
  if (screen.heartbeat && (nowMs / 1000) % 2 == 1) canvas.rows[0][kDisplayWidth - 1] = '*';
  return canvas.rows;
}

void StartMoving(Screen& screen, uint64_t nowMs) {
  for (Widget& w : screen.widgets) w.nextMoveMs = nowMs + MovePeriod(w);
}

int64_t MoveText(Screen& screen, uint64_t nowMs) {
  int64_t due = -1;
  const auto sooner = [&due](uint64_t ms) {
    if (due < 0 || static_cast<int64_t>(ms) < due) due = static_cast<int64_t>(ms);
  };
  for (Widget& w : screen.widgets) {
    const uint64_t period = MovePeriod(w);
    if (period == 0) continue;
    if (w.nextMoveMs == 0 || w.nextMoveMs > nowMs + period) w.nextMoveMs = nowMs + period;
    if (nowMs >= w.nextMoveMs) {
      Move(w);
      // One step per period, however late: after a stall it goes on from here.
      w.nextMoveMs = nowMs - w.nextMoveMs >= period ? nowMs + period : w.nextMoveMs + period;
    }
    sooner(w.nextMoveMs - nowMs);
  }
  if (screen.heartbeat) sooner(1000 - nowMs % 1000);
  return due;
}
