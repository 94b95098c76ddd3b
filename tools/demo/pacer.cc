#include "tools/demo/pacer.h"

uint64_t Pacer::Took(size_t count, uint64_t nowUs) {
  if (!started_ || deadlineUs_ + kStallUs < nowUs) {
    started_ = true;
    deadlineUs_ = nowUs;
    carry_ = 0;
  }
  const uint64_t scaled = static_cast<uint64_t>(count) * 1000000u + carry_;
  deadlineUs_ += scaled / rate_;
  carry_ = scaled % rate_;
  return deadlineUs_ > nowUs ? deadlineUs_ - nowUs : 0;
}
