// Consumes decoded audio no faster than a sound card would, so that a
// decoder writing into it keeps real time without any sound hardware.
#pragma once

#include <cstddef>
#include <cstdint>

class Pacer {
 public:
  explicit Pacer(uint32_t bytesPerSecond) : rate_(bytesPerSecond ? bytesPerSecond : 1) {}

  // count bytes were taken at nowUs; microseconds to wait before taking more.
  // After a stall (the decoder paused) the clock starts afresh rather than
  // letting the audio that follows through in a burst.
  uint64_t Took(size_t count, uint64_t nowUs);

 private:
  static constexpr uint64_t kStallUs = 100000;
  uint64_t rate_;
  bool started_ = false;
  uint64_t deadlineUs_ = 0;
  uint64_t carry_ = 0;  // byte-microseconds below one microsecond of audio
};
