#include <fcntl.h>
#include <unistd.h>

#include "console/mixer.h"

namespace {
ChosenMixer EngineVolume(Engine& engine) {
  ChosenMixer chosen;
  auto own = std::make_unique<EngineMixer>(engine);
  chosen.engine = own.get();
  chosen.mixer = std::move(own);
  chosen.name = engine.ListIsItsOwn() ? engine.Name() : "decoder";
  return chosen;
}
}  // namespace

ChosenMixer ChooseMixer(Engine& engine, const std::string& ossDevice,
                        const std::string& alsaDevice) {
  ChosenMixer chosen;
  if (engine.ListIsItsOwn()) return EngineVolume(engine);
  const int oss = open(ossDevice.c_str(), O_RDONLY | O_CLOEXEC);
  if (oss >= 0) {
    close(oss);
    chosen.mixer = std::make_unique<OssMixer>(ossDevice);
    chosen.name = "OSS " + ossDevice;
    return chosen;
  }
  auto alsa = std::make_unique<AlsaMixer>(alsaDevice);
  if (alsa->Open()) {
    chosen.name = "ALSA " + alsaDevice + " " + alsa->element();
    chosen.mixer = std::move(alsa);
    return chosen;
  }
  return EngineVolume(engine);
}
