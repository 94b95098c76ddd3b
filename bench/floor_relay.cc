// The floor for key latency: the shortest path a key can take through the
// same kinds of hops as the player (the line, a process woken by it, a pipe, a
// second process, the decoder's pipe), with blocking reads and no work.
//   floor_relay <serial device> <decoder program>
// A volume frame (up 0x10 0x34, down 0x11 0x34) is answered on the line with
// a display frame.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "posix/serial.h"
#include "link/link.h"

int main(int argc, char* argv[]) {
  if (argc < 3) return 2;
  const int line = open(argv[1], O_RDWR | O_NOCTTY);
  if (line < 0) return 1;
  ConfigureSerial(line);
  int keys[2], decoder[2];
  if (pipe(keys) != 0 || pipe(decoder) != 0) return 1;

  const pid_t dec = fork();
  if (dec == 0) {
    dup2(decoder[0], STDIN_FILENO);
    execlp(argv[2], argv[2], static_cast<char*>(nullptr));
    _exit(127);
  }
  const pid_t reader = fork();
  if (reader == 0) {
    unsigned char frame[2];
    for (;;) {
      ssize_t got = 0;
      while (got < 2) {
        const ssize_t n = read(line, frame + got, static_cast<size_t>(2 - got));
        if (n <= 0) _exit(0);
        got += n;
      }
      if (write(keys[1], frame, 2) != 2) _exit(1);
    }
  }
  const std::string bar = BuildDisplayFrame(std::string(16, ' '), std::string(16, '>') + " ", false);
  unsigned char frame[2];
  while (read(keys[0], frame, 2) == 2) {
    if (frame[0] == 0x0C && frame[1] == 0x35) break;  // the quit key
    if (frame[0] == 0x10 || frame[0] == 0x11) {
      if (write(line, bar.data(), bar.size()) < 0) break;
    } else if (write(decoder[1], "PAUSE\n", 6) != 6) {
      break;
    }
  }
  if (write(decoder[1], "QUIT\n", 5) < 0) {
  }
  kill(reader, SIGTERM);
  waitpid(reader, nullptr, 0);
  waitpid(dec, nullptr, 0);
  return 0;
}
