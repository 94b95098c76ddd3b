#include "console/serial.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

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

int OpenSerial(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  ConfigureSerial(fd);
  return fd;
}
