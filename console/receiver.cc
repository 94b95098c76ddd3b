#include "console/receiver.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include "link/keys.h"
#include "posix/posix.h"
#include "posix/serial.h"

void RunReceiver(int serialFd, int commOut, const std::string& serport) {
  int fd = serialFd;
  // The description stays non-blocking, as opened: each wake-up reads what
  // is there and no more.
  SetNonBlocking(fd);
  FrameAssembler assembler;
  for (;;) {
    if (fd < 0) {
      SleepMs(kReopenIntervalMs);
      fd = TryReopenLine(serport);
      continue;
    }
    // A lone byte is dropped when its partner does not follow in time.
    pollfd line = {fd, POLLIN, 0};
    poll(&line, 1, assembler.Expire(MonotonicMs()));
    // A dead line must be closed rather than read in a loop.
    if (line.revents & kLineGoneEvents) {
      LoseLine(fd, assembler, serport);
      continue;
    }
    if (!(line.revents & POLLIN)) continue;
    uint8_t bytes[2];
    ssize_t got;
    while ((got = read(fd, bytes, static_cast<size_t>(assembler.Wanted()))) > 0) {
      uint8_t frame[2];
      if (assembler.Take(bytes, static_cast<int>(got), MonotonicMs(), frame)) {
        ssize_t ignored = write(commOut, frame, 2);
        (void)ignored;
      }
    }
    if (got < 0 && LineGoneError(errno)) LoseLine(fd, assembler, serport);
  }
}
