#include "posix/serial.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "posix/trace.h"

namespace {
// What a descriptor that is no terminal stands for, as a user would name it.
const char* KindOf(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0) return "not a terminal";
  if (S_ISREG(info.st_mode)) return "a regular file, not a terminal";
  if (S_ISFIFO(info.st_mode)) return "a FIFO, not a terminal";
  if (S_ISSOCK(info.st_mode)) return "a socket, not a terminal";
  return "a device that is not a terminal";
}
}  // namespace

void ConfigureSerial(int fd) {
  termios settings;
  memset(&settings, 0, sizeof settings);
  // Raw line: every other flag, character and mode stays zero.
  settings.c_cflag = B2400 | CS8 | CREAD | CLOCAL;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  tcflush(fd, TCIFLUSH);
  tcsetattr(fd, TCSANOW, &settings);
}

int OpenSerialAtStart(const std::string& path) {
  std::string refusal;
  const int fd = OpenSerial(path, &refusal);
  if (fd >= 0) return fd;
  if (refusal.empty())
    Trace("Unable to open %s\n\n", Printable(path).c_str());
  else
    Trace("Unable to use %s: %s\n\n", Printable(path).c_str(), refusal.c_str());
  return -1;
}

bool LineGoneError(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

void LoseLine(int& fd, FrameAssembler& assembler, const std::string& serport) {
  Trace("Serial line lost: %s\n", Printable(serport).c_str());
  close(fd);
  fd = -1;
  assembler = FrameAssembler();
}

int TryReopenLine(const std::string& serport) {
  const int fd = OpenSerial(serport);
  if (fd >= 0) Trace("Serial line back: %s\n", Printable(serport).c_str());
  return fd;
}

int OpenSerial(const std::string& path, std::string* refusal) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  // Display frames written to a file would overwrite it, and frames written
  // into a FIFO come back as keys.
  if (!isatty(fd)) {
    if (refusal) *refusal = KindOf(fd);
    close(fd);
    return -1;
  }
  ConfigureSerial(fd);
  return fd;
}
