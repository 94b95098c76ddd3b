#include <cmath>
#include <cstdlib>

#include "console/mixer.h"

int DecoderMixer::SetVolume(int volume) {
  int v = volume & 0xFF;
  if (v > 100) v = 100;
  if (send_) send_("VOLUME " + std::to_string(v));
  volume_ = v;
  set_ = true;
  return v;
}

void DecoderMixer::DecoderReady() {
  if (set_ && send_) send_("VOLUME " + std::to_string(volume_));
}

bool DecoderMixer::OnDecoderLine(const std::string& line) {
  // "@V 40.000000%": the decoder keeps fractions of a percent, and above 100
  // it amplifies; the player's range ends at 100.
  if (line.compare(0, 3, "@V ") != 0) return false;
  const char* text = line.c_str() + 3;
  char* end = nullptr;
  const double percent = std::strtod(text, &end);
  if (end == text || *end != '%' || !std::isfinite(percent)) return false;
  volume_ = percent <= 0 ? 0 : percent >= 100 ? 100 : static_cast<int>(std::lround(percent));
  return true;
}
