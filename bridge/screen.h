// A display client's screen on the unit's two lines of 16: its widgets, how
// they are drawn, and the text that moves.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/charset.h"
#include "link/ticker.h"

constexpr int kRows = 2;
// What the unit's character cells are made of, for bars given in pixels.
constexpr int kCellWidth = 5;
constexpr int kCellHeight = 8;

// A long title moves a step as often as the player's does.
constexpr uint64_t kTitleStepMs = kTickerStepMs;
// Scrollers move every `speed` eighths of a second, but no faster than this:
// a DisplayFrame takes 142 ms on the line, and a faster scroller would only
// skip characters.
constexpr uint64_t kFastestScrollMs = 250;

enum class WidgetType { kString, kTitle, kHbar, kVbar, kPbar, kIcon, kScroller, kFrame, kNum };

// The type named in widget_add; false for a name the protocol does not have.
bool ParseWidgetType(std::string_view name, WidgetType& type);

struct Widget {
  std::string id;
  WidgetType type = WidgetType::kString;
  std::string frame;  // the frame widget it is drawn in, "" for the screen itself
  bool set = false;   // nothing is drawn before widget_set placed it
  int x = 1, y = 1;   // 1-based column and row; left and top of scrollers and frames
  int right = 0, bottom = 0;
  int value = 0;  // bar length in pixels, promille of a pbar, digit of a num
  int width = 0;  // of a pbar
  char direction = 'h';
  int speed = 1;
  std::string text;  // already in the display's charset
  std::string label1, label2;  // a pbar's begin and end labels
  // Moving text: where the window stands, which way it goes, when it moves.
  int offset = 0;
  int step = 1;
  uint64_t nextMoveMs = 0;
};

// widget_set's parameters after the widget's id. "" when taken, else what
// was wrong, for the error answer; the widget is then unchanged.
std::string SetWidget(Widget& widget, const std::vector<std::string>& params, DisplayCharset charset);

enum Priority { kHidden, kBackground, kInfo, kForeground, kAlert, kInput };

// A class name or a number (1-64 foreground, 65-192 info, 193 and up background).
bool ParsePriority(std::string_view value, int& priority);

struct Screen {
  std::string id;
  int owner = 0;  // the client
  std::string name;
  int priority = kInfo;
  int duration = 0;  // eighths of a second in the rotation; 0: the default
  bool heartbeat = false;
  std::vector<Widget> widgets;
};

// screen_set's attributes after the screen's id: "" when taken, else the error.
std::string SetScreen(Screen& screen, const std::vector<std::string>& params);

using Lines = std::array<std::string, kRows>;

// Two rows of 16 cells: the widgets in the order they were added, each over
// the ones before; control bytes show as blanks.
Lines RenderScreen(const Screen& screen, uint64_t nowMs);

// The screen's moving text starts from where it stands when it comes into view.
void StartMoving(Screen& screen, uint64_t nowMs);

// Moves what is due; milliseconds until the next change of the drawing (a
// move or a heartbeat), or -1 when the screen stands still.
int64_t MoveText(Screen& screen, uint64_t nowMs);
