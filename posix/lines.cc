#include "posix/lines.h"

bool ReadLine(FILE* file, std::string& line, size_t keep, bool& cut) {
  line.clear();
  cut = false;
  bool any = false;
  int c;
  while ((c = getc(file)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line.size() < keep)
      line.push_back(static_cast<char>(c));
    else
      cut = true;
  }
  return any;
}
