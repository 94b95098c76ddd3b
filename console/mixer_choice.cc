#include <fcntl.h>
#include <unistd.h>

#include "console/mixer.h"

ChosenMixer ChooseMixer(DecoderMixer::Send send, const std::string& ossDevice,
                        const std::string& alsaDevice) {
  ChosenMixer chosen;
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
  auto decoder = std::make_unique<DecoderMixer>(std::move(send));
  chosen.decoder = decoder.get();
  chosen.mixer = std::move(decoder);
  chosen.name = "decoder";
  return chosen;
}
