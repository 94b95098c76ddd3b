#include <alsa/asoundlib.h>

#include <iterator>

#include "console/bounded_worker.h"
#include "console/mixer.h"
#include "posix/trace.h"

namespace {

constexpr const char* kElements[] = {"Master", "PCM"};

// A sound server answers in milliseconds; a key waits for it no longer than
// a user would notice. Opening takes several round trips and happens once,
// before the first frame.
constexpr int kRequestBoundMs = 200;
constexpr int kOpenBoundMs = 1000;

// The library reports every failed open on standard error, once per key
// while the sound server is away; the player says what it uses in its trace.
void Quiet(const char*, int, const char*, int, const char*, ...) {}

int Percent(long raw, long min, long max) {
  const long percent = ((raw - min) * 100 + (max - min) / 2) / (max - min);
  return static_cast<int>(percent < 0 ? 0 : percent > 100 ? 100 : percent);
}

}  // namespace

// The device as the worker thread sees it; no other thread touches it.
struct AlsaMixer::Device {
  explicit Device(std::string name) : name(std::move(name)) {}
  ~Device() { Close(); }

  // The index of the element found in kElements, or -1.
  int Open();
  void Close();
  int Get();
  int Set(int v);

  const std::string name;
  snd_mixer_t* mixer = nullptr;
  snd_mixer_elem_t* element = nullptr;
  long min = 0, max = 0;
};

void AlsaMixer::Device::Close() {
  if (mixer != nullptr) snd_mixer_close(mixer);
  mixer = nullptr;
  element = nullptr;
}

int AlsaMixer::Device::Open() {
  Close();
  snd_lib_error_set_handler(Quiet);
  if (snd_mixer_open(&mixer, 0) < 0) {
    mixer = nullptr;
    return -1;
  }
  if (snd_mixer_attach(mixer, name.c_str()) < 0 ||
      snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 || snd_mixer_load(mixer) < 0) {
    Close();
    return -1;
  }
  snd_mixer_selem_id_t* id = nullptr;
  snd_mixer_selem_id_alloca(&id);
  for (int i = 0; i < static_cast<int>(std::size(kElements)); ++i) {
    snd_mixer_selem_id_set_name(id, kElements[i]);
    snd_mixer_selem_id_set_index(id, 0);
    snd_mixer_elem_t* found = snd_mixer_find_selem(mixer, id);
    if (found == nullptr || !snd_mixer_selem_has_playback_volume(found)) continue;
    if (snd_mixer_selem_get_playback_volume_range(found, &min, &max) < 0 || max <= min) continue;
    element = found;
    return i;
  }
  Close();
  return -1;
}

int AlsaMixer::Device::Get() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (element == nullptr && Open() < 0) return 255;
    // Changes made by other programs arrive as events; a server that went
    // away shows here first.
    if (snd_mixer_handle_events(mixer) < 0) {
      Close();
      continue;
    }
    int sum = 0, channels = 0;
    bool failed = false;
    for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
      const auto channel = static_cast<snd_mixer_selem_channel_id_t>(ch);
      if (!snd_mixer_selem_has_playback_channel(element, channel)) continue;
      long raw = 0;
      if (snd_mixer_selem_get_playback_volume(element, channel, &raw) < 0) {
        failed = true;
        break;
      }
      sum += Percent(raw, min, max);
      ++channels;
    }
    if (failed || channels == 0) {
      Close();
      continue;
    }
    return sum / channels;
  }
  return 255;
}

int AlsaMixer::Device::Set(int v) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (element == nullptr && Open() < 0) return -1;
    const long raw = min + (v * (max - min) + 50) / 100;
    if (snd_mixer_selem_set_playback_volume_all(element, raw) < 0) {
      Close();
      continue;
    }
    for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
      const auto channel = static_cast<snd_mixer_selem_channel_id_t>(ch);
      long left = 0;
      if (snd_mixer_selem_has_playback_channel(element, channel) &&
          snd_mixer_selem_get_playback_volume(element, channel, &left) >= 0)
        return Percent(left, min, max);
    }
    return v;
  }
  return -1;
}

AlsaMixer::AlsaMixer(std::string device)
    : device_(std::move(device)),
      alsa_(std::make_shared<Device>(device_)),
      worker_(std::make_unique<BoundedWorker>()) {}

AlsaMixer::~AlsaMixer() {
  // Closed on the worker, which holds the last reference once it has run
  // (or, hung, once its call returns); this thread never waits on it.
  int ignored = 0;
  worker_->Run([device = std::move(alsa_)] { device->Close(); return 0; }, kRequestBoundMs,
               &ignored);
}

bool AlsaMixer::Ask(std::function<int(Device&)> call, int boundMs, int* result) {
  const BoundedWorker::Outcome outcome =
      worker_->Run([device = alsa_, call = std::move(call)] { return call(*device); }, boundMs,
                   result);
  const bool answered = outcome == BoundedWorker::Outcome::kDone;
  if (answered != answering_) {
    const std::string name = "ALSA " + device_ + (element_.empty() ? "" : " " + element_);
    Trace(answered ? "Mixer answering again: %s\n" : "Mixer not answering: %s\n", name.c_str());
    answering_ = answered;
  }
  return answered;
}

bool AlsaMixer::Open() {
  int found = -1;
  if (!Ask([](Device& device) { return device.Open(); }, kOpenBoundMs, &found) || found < 0) {
    element_.clear();
    return false;
  }
  element_ = kElements[found];
  return true;
}

int AlsaMixer::GetVolume() {
  int volume = 255;
  return Ask([](Device& device) { return device.Get(); }, kRequestBoundMs, &volume) ? volume
                                                                                   : 255;
}

int AlsaMixer::SetVolume(int volume) {
  int v = volume & 0xFF;
  if (v > 100) v = 100;
  int left = -1;
  return Ask([v](Device& device) { return device.Set(v); }, kRequestBoundMs, &left) ? left : -1;
}
