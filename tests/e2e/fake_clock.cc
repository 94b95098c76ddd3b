// Preloaded into the player so that a test sets its wall clock: while the
// file named by FAKE_CLOCK_FILE holds 8 bytes, gettimeofday reports that many
// milliseconds since the epoch and the clock stands still in between. Only
// the wall clock is replaced; the monotonic clock and sleeps stay real.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {
using RealGettimeofday = int (*)(struct timeval*, void*);

bool FakeNow(uint64_t& ms) {
  const char* path = getenv("FAKE_CLOCK_FILE");
  if (!path) return false;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = pread(fd, &ms, sizeof ms, 0) == static_cast<ssize_t>(sizeof ms);
  close(fd);
  return ok;
}
}  // namespace

extern "C" int gettimeofday(struct timeval* tv, void* tz) {
  uint64_t ms = 0;
  if (FakeNow(ms)) {
    tv->tv_sec = static_cast<time_t>(ms / 1000);
    tv->tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return 0;
  }
  static RealGettimeofday real =
      reinterpret_cast<RealGettimeofday>(dlsym(RTLD_NEXT, "gettimeofday"));
  return real(tv, tz);
}
