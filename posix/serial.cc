#include "posix/serial.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "posix/posix.h"
#include "posix/signals.h"
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

// The node the lock is on. Device and inode numbers of /dev fit well within
// these bits, and 0 stands for none.
uint64_t NodeKey(const struct stat& info) {
  const uint64_t key = (static_cast<uint64_t>(info.st_dev) << 40) ^ static_cast<uint64_t>(info.st_ino);
  return key != 0 ? key : 1;
}

// The line this program holds, shared with the processes it forks (the
// player's receiver reopens its own description): the node it has locked,
// and how many descriptions of it were opened since.
struct Held {
  std::atomic<uint64_t> key{0};
  std::atomic<int> opens{0};
};
static_assert(std::atomic<uint64_t>::is_always_lock_free, "shared between processes");

Held& SharedHeld() {
  // Made at the first open, before any child is forked.
  static Held* held = [] {
    void* page = mmap(nullptr, sizeof(Held), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    static Held own;  // no shared page: this process alone then
    return page == MAP_FAILED ? &own : new (page) Held;
  }();
  return *held;
}

int lineDescriptions = 1;

// The description whose lock this process took, so that letting it go on a
// loss frees the node for whoever comes next.
pid_t lockerPid = -1;
int lockerFd = -1;

// The description this process opened last. Exclusive mode outlives the
// program on a terminal that another description keeps open (an emulated
// unit's, a modem manager's), so it is undone through this one at the end.
int currentFd = -1;

void EndExclusiveMode() {
  if (currentFd >= 0) ioctl(currentFd, TIOCNXCL);
}

// The pid holding a lock on the node, from the kernel's table of locks; -1
// where it cannot be read (a service may see no more of /proc than its own).
long LockHolder(const struct stat& node) {
  FileHandle locks(fopen("/proc/locks", "re"));
  if (!locks) return -1;
  char line[256];
  while (fgets(line, sizeof line, locks.get())) {
    long pid = 0;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    char kind[16];
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF"; a waiter's line has "->"
    // where kind is and holds nothing.
    if (sscanf(line, "%*d: %15s %*s %*s %ld %x:%x:%llu", kind, &pid, &major, &minor, &inode) == 5 &&
        inode == static_cast<unsigned long long>(node.st_ino) &&
        makedev(major, minor) == node.st_dev)
      return pid;
  }
  return -1;
}

std::string InUse(long pid) {
  std::string text = "in use by another program";
  if (pid > 0) text += " (pid " + std::to_string(pid) + ")";
  return text;
}

// Takes the line for this program, or says whose it is.
bool Claim(int fd, std::string& refusal) {
  struct stat node;
  if (fstat(fd, &node) != 0) return true;
  Held& held = SharedHeld();
  const uint64_t key = NodeKey(node);
  int opens;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    held.key.store(key);
    held.opens.store(opens = 1);
    lockerPid = getpid();
    lockerFd = fd;
  } else if (errno == EWOULDBLOCK && held.key.load() == key) {
    opens = held.opens.fetch_add(1) + 1;
  } else if (errno == EWOULDBLOCK) {
    refusal = InUse(LockHolder(node));
    return false;
  } else {
    return true;  // no locks on this file system: nothing to go by
  }
  // Once, on the last description: a reopen of the same node after a loss
  // counts on from where it was and leaves the new terminal to the lock.
  if (opens == lineDescriptions && ioctl(fd, TIOCEXCL) == 0) {
    static const bool undone = atexit(EndExclusiveMode) == 0;
    (void)undone;
    AtEndBySignal(EndExclusiveMode);
  }
  return true;
}

}  // namespace

void CloseLine(int fd) {
  if (fd < 0) return;
  struct stat node;
  if (fd == lockerFd && getpid() == lockerPid && fstat(fd, &node) == 0) {
    uint64_t key = NodeKey(node);
    SharedHeld().key.compare_exchange_strong(key, 0);
    lockerFd = -1;
  }
  if (fd == currentFd) currentFd = -1;
  close(fd);
}

void SetLineDescriptions(int count) { lineDescriptions = count > 0 ? count : 1; }

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
  LineRefusal refusal;
  const int fd = OpenSerial(path, &refusal);
  if (fd >= 0) return fd;
  Trace("Unable to %s %s: %s\n\n", refusal.opened ? "use" : "open", Printable(path).c_str(),
        refusal.reason.c_str());
  return -1;
}

bool LineGoneError(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

void LoseLine(int& fd, FrameAssembler& assembler, const std::string& serport) {
  Trace("Serial line lost: %s\n", Printable(serport).c_str());
  CloseLine(fd);
  fd = -1;
  assembler = FrameAssembler();
}

int TryReopenLine(const std::string& serport) {
  const int fd = OpenSerial(serport);
  if (fd >= 0) Trace("Serial line back: %s\n", Printable(serport).c_str());
  return fd;
}

int OpenSerial(const std::string& path, LineRefusal* refusal) {
  LineRefusal local;
  LineRefusal& why = refusal ? *refusal : local;
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    struct stat node;
    // A terminal in exclusive mode refuses the open itself.
    if (error == EBUSY && stat(path.c_str(), &node) == 0) {
      why = {true, InUse(LockHolder(node))};
    } else {
      why = {false, strerror(error)};
    }
    errno = error;
    return -1;
  }
  // Display frames written to a file would overwrite it, and frames written
  // into a FIFO come back as keys.
  if (!isatty(fd)) {
    why = {true, KindOf(fd)};
    close(fd);
    return -1;
  }
  if (!Claim(fd, why.reason)) {
    why.opened = true;
    close(fd);
    return -1;
  }
  ConfigureSerial(fd);
  currentFd = fd;
  return fd;
}
