#include "console/mixer.h"

int EngineMixer::SetVolume(int volume) {
  int v = volume & 0xFF;
  if (v > 100) v = 100;
  if (!engine_.SetVolume(v)) return -1;
  volume_ = v;
  set_ = true;
  return v;
}

void EngineMixer::EngineReady() {
  if (set_) engine_.SetVolume(volume_);
}
