// The master volume, behind an interface so the volume logic runs without a
// sound card. Volumes are percentages 0..100 for both channels. Three kinds,
// chosen once at start-up: the OSS device, the ALSA simple mixer (through the
// sound server's plug-in this is the desktop's own volume), or the decoder's
// own volume where the player can reach no mixer at all.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "console/engine.h"

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

class BoundedWorker;

// The simple mixer of an ALSA device: element "Master", else "PCM", percent
// spread linearly over the element's range. It stays open between calls,
// since opening costs a round trip to a sound server; a request that fails
// (the server restarted) closes it, and it is opened again at once.
// Requests run on a worker thread of the mixer's own and are waited for at
// most a short bound, since a sound server that stops answering would hang
// them for as long as it is stopped: one not answered in time counts as a
// mixer that cannot be opened, for that request and for every later one
// until the hung request has returned. The start and the end of such an
// outage are traced once each.
class AlsaMixer : public Mixer {
 public:
  explicit AlsaMixer(std::string device = "default");
  ~AlsaMixer() override;
  AlsaMixer(const AlsaMixer&) = delete;
  AlsaMixer& operator=(const AlsaMixer&) = delete;

  // Opens the device and finds the element; false when there is none, or
  // when the device does not answer in time.
  bool Open();
  // "Master" or "PCM" once opened, else empty.
  const std::string& element() const { return element_; }
  // Volumes above 100 are set as 100.
  int GetVolume() override;
  int SetVolume(int volume) override;

 private:
  struct Device;
  // Runs call on the worker; false when it did not answer within boundMs.
  bool Ask(std::function<int(Device&)> call, int boundMs, int* result);
  std::string device_;
  std::string element_;
  bool answering_ = true;
  std::shared_ptr<Device> alsa_;  // touched on the worker thread alone
  std::unique_ptr<BoundedWorker> worker_;
};

// The engine's own volume: the decoder's "VOLUME n", a music server's mixer,
// a desktop player's Volume. Set and get never wait for an answer; the last
// value set stands until the engine reports one.
class EngineMixer : public Mixer {
 public:
  explicit EngineMixer(Engine& engine) : engine_(engine) {}
  // 100 until the engine says otherwise: a decoder starts at its full volume.
  int GetVolume() override { return volume_; }
  // Volumes above 100 are set as 100: a decoder would amplify and clip. -1
  // when the engine has no volume of its own.
  int SetVolume(int volume) override;
  // The engine reported its volume.
  void OnVolume(int volume) { volume_ = volume; }
  // The engine said it is ready. A decoder started in place of one that
  // ended is at its full volume again: the volume set last, if any, is set
  // once more, so that the music does not come back louder than it was.
  void EngineReady();

 private:
  Engine& engine_;
  int volume_ = 100;
  bool set_ = false;  // a volume was set since the start
};

struct ChosenMixer {
  std::unique_ptr<Mixer> mixer;
  // For the start-up trace "Mixer: <name>": "OSS /dev/mixer",
  // "ALSA default Master", "decoder" (the engine's own).
  std::string name;
  // The engine's volume, when that was chosen: it wants the engine's reports.
  EngineMixer* engine = nullptr;
};

// Run once at start-up: OSS when its device opens, else the ALSA device when
// it has the element, else the engine's own volume. An engine with a list of
// its own (a music server, a desktop player) always uses its own volume.
ChosenMixer ChooseMixer(Engine& engine, const std::string& ossDevice = "/dev/mixer",
                        const std::string& alsaDevice = "default");
