// The line for one program: the lock binds other processes, root's too (the
// tests run as root), and leaves this program's own descriptions alone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "posix/posix.h"
#include "posix/serial.h"
#include "posix/signals.h"
#include "posix/unique_fd.h"

namespace {

int Exclusive(int fd) {
  int on = -1;
  ioctl(fd, TIOCGEXCL, &on);
  return on;
}

// Another process holding the line as another program would, until killed.
pid_t HoldElsewhere(const std::string& path) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || write(ready[1], "y", 1) != 1) _exit(1);
    pause();
  }
  char ok = 0;
  close(ready[1]);
  const bool locked = read(ready[0], &ok, 1) == 1;
  close(ready[0]);
  return locked ? pid : -1;
}

void LetGo(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST(SerialLine, AnotherProcesssLineIsRefusedUntouchedUntilLetGo) {
  std::string slave;
  UniqueFd master(OpenPtyMaster(slave));
  ASSERT_TRUE(master.Valid());
  termios settings{};
  tcgetattr(master.Get(), &settings);
  cfsetspeed(&settings, B9600);
  tcsetattr(master.Get(), TCSANOW, &settings);

  const pid_t other = HoldElsewhere(slave);
  ASSERT_GT(other, 0);
  LineRefusal refusal;
  EXPECT_EQ(OpenSerial(slave, &refusal), -1);
  EXPECT_TRUE(refusal.opened);
  EXPECT_EQ(refusal.reason, "in use by another program (pid " + std::to_string(other) + ")");
  tcgetattr(master.Get(), &settings);
  EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B9600));  // its settings untouched

  LetGo(other);
  const int fd = OpenSerial(slave);
  EXPECT_GE(fd, 0);
  CloseLine(fd);
}

TEST(SerialLine, OwnDescriptionsOpenAgainAndTheLastMakesItExclusive) {
  std::string slave;
  UniqueFd master(OpenPtyMaster(slave));
  ASSERT_TRUE(master.Valid());
  SetLineDescriptions(2);
  const int first = OpenSerial(slave);
  ASSERT_GE(first, 0);
  EXPECT_EQ(Exclusive(first), 0);  // else the second would be refused to a user
  const int second = OpenSerial(slave);
  ASSERT_GE(second, 0);
  EXPECT_EQ(Exclusive(second), 1);
  // A process forked from the program, as the player's receiver, is the
  // program too.
  const pid_t child = fork();
  if (child == 0) _exit(OpenSerial(slave) >= 0 ? 0 : 1);
  int status = -1;
  EXPECT_TRUE(ReapWithin(child, 5000, &status));
  EXPECT_EQ(status, 0);
  SetLineDescriptions(1);

  // The hold goes with the description that took it.
  CloseLine(first);
  const pid_t other = HoldElsewhere(slave);
  EXPECT_GT(other, 0);
  if (other > 0) LetGo(other);
  CloseLine(second);
}

// The terminal's exclusive mode would outlive the program on a line that
// another description keeps open (here the test's own), and refuse the next
// program to a user.
TEST(SerialLine, ExclusiveModeEndsWithTheProgram) {
  std::string slave;
  UniqueFd master(OpenPtyMaster(slave));
  ASSERT_TRUE(master.Valid());
  UniqueFd kept(open(slave.c_str(), O_RDWR | O_NOCTTY));
  for (const bool bySignal : {false, true}) {
    const pid_t child = fork();
    if (child == 0) {
      if (OpenSerial(slave) < 0 || Exclusive(kept.Get()) != 1) _exit(1);
      if (bySignal) RaiseDefault(SIGTERM);
      exit(0);
    }
    int status = -1;
    ASSERT_TRUE(ReapWithin(child, 5000, &status));
    EXPECT_EQ(status, bySignal ? SIGTERM : 0);
    EXPECT_EQ(Exclusive(kept.Get()), 0) << bySignal;
  }
}

}  // namespace
