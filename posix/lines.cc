#include "posix/lines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

FileHandle OpenTextFile(const std::string& path, std::string* why) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (why) *why = strerror(errno);
    return nullptr;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (why) *why = kNotARegularFile;
    close(fd);
    return nullptr;
  }
  FILE* file = fdopen(fd, "r");
  if (!file) {
    if (why) *why = strerror(errno);
    close(fd);
  }
  return FileHandle(file);
}
