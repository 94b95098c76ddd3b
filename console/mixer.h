// The master volume, behind an interface so the volume logic runs without a
// sound card. Volumes are percentages 0..100 for both channels.
#pragma once

#include <string>

struct Mixer {
  virtual ~Mixer() = default;
  // Mean of both channels, or 255 when the mixer cannot be used.
  virtual int GetVolume() = 0;
  // Sets both channels to the low 8 bits of volume; the left channel as the
  // device left it, or -1 when the mixer cannot be opened.
  virtual int SetVolume(int volume) = 0;
};

// The OSS mixer device, opened and closed on every call.
class OssMixer : public Mixer {
 public:
  explicit OssMixer(std::string device = "/dev/mixer") : device_(std::move(device)) {}
  int GetVolume() override;
  int SetVolume(int volume) override;

 private:
  std::string device_;
};
