#include "posix/trim.h"

namespace {
bool IsBlank(unsigned char c) { return c <= 0x20; }

bool BomAt(const std::string& text, size_t i) {
  return text.compare(i, 3, "\xEF\xBB\xBF") == 0;
}
}  // namespace

void TrimString(std::string& text) {
  size_t start = 0;
  for (;;) {
    if (start < text.size() && IsBlank(static_cast<unsigned char>(text[start]))) {
      ++start;
    } else if (BomAt(text, start)) {
      start += 3;
    } else {
      break;
    }
  }
  size_t end = text.size();
  while (end > start && IsBlank(static_cast<unsigned char>(text[end - 1]))) --end;
  text = text.substr(start, end - start);
}
