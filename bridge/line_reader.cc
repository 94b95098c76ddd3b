#include "bridge/line_reader.h"

#include <cstring>

LineReader::Result LineReader::Feed(const char* data, size_t size) {
  Result result;
  const char* end = data + size;
  while (data < end) {
    const char* feed = static_cast<const char*>(memchr(data, '\n', static_cast<size_t>(end - data)));
    const char* stop = feed ? feed : end;
    if (!skipping_) {
      const size_t room = maxLine_ - partial_.size();
      const size_t take = static_cast<size_t>(stop - data);
      if (take > room) {
        partial_.clear();
        skipping_ = true;
        ++result.overlong;
      } else {
        partial_.append(data, take);
      }
    }
    if (!feed) break;
    if (!skipping_) {
      if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
      result.lines.push_back(std::move(partial_));
    }
    partial_.clear();
    skipping_ = false;
    data = feed + 1;
  }
  return result;
}
