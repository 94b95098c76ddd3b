#include "console/line.h"

#include <unistd.h>

#include <cerrno>

#include "posix/serial.h"

uint64_t LineWaitUs(const SerialLine& line, uint64_t nowUs) { return line.pacer.WaitUs(nowUs); }

void WriteFrame(SerialLine& line, const std::string& frame, uint64_t nowUs) {
  const ssize_t written = write(line.serialFd, frame.data(), frame.size());
  if (written > 0) line.pacer.Sent(nowUs, static_cast<size_t>(written));
  if (written < 0 && LineGoneError(errno)) line.serialLost = true;
}

void ReopenIfLost(SerialLine& line, uint32_t now) {
  if (!line.serialLost || !MoreThan(now, line.lastReopenTry, kReopenIntervalMs - 1)) return;
  line.lastReopenTry = TickStamp(now);
  // The new description is the main process's own, so it stays non-blocking.
  const int fd = OpenSerial(line.serport);
  if (fd < 0) return;
  CloseLine(line.serialFd);
  line.serialFd = fd;
  line.serialLost = false;
}
