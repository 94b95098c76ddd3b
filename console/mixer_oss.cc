#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "console/mixer.h"

namespace {
// The OSS master volume requests: left channel in the low byte, right in the next.
constexpr unsigned long kReadVolume = 0x80044D00UL;
constexpr unsigned long kWriteVolume = 0xC0044D00UL;

class Device {
 public:
  explicit Device(const std::string& path) : fd_(open(path.c_str(), O_RDONLY)) {}
  ~Device() {
    if (fd_ >= 0) close(fd_);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};
}  // namespace

int OssMixer::GetVolume() {
  Device mixer(device_);
  if (mixer.fd() < 0) return 255;
  int value = 0;
  // A mixer that opens but will not answer is treated like a missing one.
  if (ioctl(mixer.fd(), kReadVolume, &value) < 0) return 255;
  return ((value & 0xFF) + ((value >> 8) & 0xFF)) / 2;
}

int OssMixer::SetVolume(int volume) {
  const int v = volume & 0xFF;
  Device mixer(device_);
  if (mixer.fd() < 0) return -1;
  int value = v + 256 * v;
  ioctl(mixer.fd(), kWriteVolume, &value);
  return value & 0xFF;
}
