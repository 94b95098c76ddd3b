// The line for one program: the lock binds other processes, root's too (the
// tests run as root), and leaves this program's own descriptions alone.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <fcntl.h>

#include "posix/posix.h"
#include "posix/serial.h"
#include "posix/unique_fd.h"

namespace {

int Exclusive(int fd) {
  int on = -1;
  ioctl(fd, TIOCGEXCL, &on);
  return on;
}

// Another process holding the line the way another program would.
class OtherHolder {
 public:
  explicit OtherHolder(const std::string& path) {
    int ready[2];
    if (pipe(ready) != 0 || pipe(hold_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
      const char ok = flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
      if (write(ready[1], &ok, 1) != 1) _exit(1);
      char none;
      close(hold_[1]);
      if (read(hold_[0], &none, 1) < 0) _exit(1);  // until the test lets go
      _exit(0);
    }
    close(ready[1]);
    char ok = 0;
    locked_ = read(ready[0], &ok, 1) == 1 && ok == 'y';
    close(ready[0]);
    close(hold_[0]);
  }
  ~OtherHolder() { LetGo(); }
  void LetGo() {
    if (pid_ <= 0) return;
    close(hold_[1]);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  bool locked() const { return locked_; }
  pid_t pid() const { return pid_; }

 private:
  int hold_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool locked_ = false;
};

TEST(SerialLine, AnotherProcesssLineIsRefusedUntouchedUntilLetGo) {
  std::string slave;
  UniqueFd master(OpenPtyMaster(slave));
  ASSERT_TRUE(master.Valid());
  UniqueFd mine(open(slave.c_str(), O_RDWR | O_NOCTTY));
  termios before{};
  tcgetattr(mine.Get(), &before);
  cfsetspeed(&before, B9600);
  tcsetattr(mine.Get(), TCSANOW, &before);

  OtherHolder other(slave);
  ASSERT_TRUE(other.locked());
  LineRefusal refusal;
  EXPECT_EQ(OpenSerial(slave, &refusal), -1);
  EXPECT_TRUE(refusal.opened);
  EXPECT_EQ(refusal.reason, "in use by another program (pid " + std::to_string(other.pid()) + ")");
  termios after{};
  tcgetattr(mine.Get(), &after);
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B9600));  // its settings left as they were

  other.LetGo();
  const int fd = OpenSerial(slave, &refusal);
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
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  SetLineDescriptions(1);

  // Let go with the description that took it: the line is anyone's again.
  CloseLine(first);
  OtherHolder other(slave);
  EXPECT_TRUE(other.locked());
  other.LetGo();
  CloseLine(second);
}

}  // namespace
