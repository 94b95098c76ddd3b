// Command lines out of a client's byte stream, each bounded, so that a client
// that never sends a line feed costs at most one line of memory.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class LineReader {
 public:
  explicit LineReader(size_t maxLine) : maxLine_(maxLine) {}

  struct Result {
    std::vector<std::string> lines;  // without the line feed and a carriage return before it
    size_t overlong = 0;             // lines cut off: the rest of each up to its line feed is dropped
  };

  // Takes the bytes of one read.
  Result Feed(const char* data, size_t size);

 private:
  size_t maxLine_;
  std::string partial_;
  bool skipping_ = false;  // inside the rest of an overlong line
};
