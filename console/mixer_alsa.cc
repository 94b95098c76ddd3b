#include <alsa/asoundlib.h>

#include "console/mixer.h"

namespace {

constexpr const char* kElements[] = {"Master", "PCM"};

// The library reports every failed open on standard error, once per key
// while the sound server is away; the player says what it uses in its trace.
void Quiet(const char*, int, const char*, int, const char*, ...) {}

int Percent(long raw, long min, long max) {
  const long percent = ((raw - min) * 100 + (max - min) / 2) / (max - min);
  return static_cast<int>(percent < 0 ? 0 : percent > 100 ? 100 : percent);
}

}  // namespace

struct AlsaMixer::Handle {
  snd_mixer_t* mixer = nullptr;
  snd_mixer_elem_t* element = nullptr;
  long min = 0, max = 0;
  ~Handle() {
    if (mixer != nullptr) snd_mixer_close(mixer);
  }
};

AlsaMixer::AlsaMixer(std::string device) : device_(std::move(device)) {}

AlsaMixer::~AlsaMixer() = default;

void AlsaMixer::Close() {
  handle_.reset();
  element_.clear();
}

bool AlsaMixer::Open() {
  Close();
  snd_lib_error_set_handler(Quiet);
  auto handle = std::make_unique<Handle>();
  if (snd_mixer_open(&handle->mixer, 0) < 0) {
    handle->mixer = nullptr;
    return false;
  }
  if (snd_mixer_attach(handle->mixer, device_.c_str()) < 0 ||
      snd_mixer_selem_register(handle->mixer, nullptr, nullptr) < 0 ||
      snd_mixer_load(handle->mixer) < 0)
    return false;
  snd_mixer_selem_id_t* id = nullptr;
  snd_mixer_selem_id_alloca(&id);
  for (const char* name : kElements) {
    snd_mixer_selem_id_set_name(id, name);
    snd_mixer_selem_id_set_index(id, 0);
    snd_mixer_elem_t* element = snd_mixer_find_selem(handle->mixer, id);
    if (element == nullptr || !snd_mixer_selem_has_playback_volume(element)) continue;
    if (snd_mixer_selem_get_playback_volume_range(element, &handle->min, &handle->max) < 0 ||
        handle->max <= handle->min)
      continue;
    handle->element = element;
    element_ = name;
    handle_ = std::move(handle);
    return true;
  }
  return false;
}

int AlsaMixer::GetVolume() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!handle_ && !Open()) return 255;
    // Changes made by other programs arrive as events; a server that went
    // away shows here first.
    if (snd_mixer_handle_events(handle_->mixer) < 0) {
      Close();
      continue;
    }
    int sum = 0, channels = 0;
    bool failed = false;
    for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
      const auto channel = static_cast<snd_mixer_selem_channel_id_t>(ch);
      if (!snd_mixer_selem_has_playback_channel(handle_->element, channel)) continue;
      long raw = 0;
      if (snd_mixer_selem_get_playback_volume(handle_->element, channel, &raw) < 0) {
        failed = true;
        break;
      }
      sum += Percent(raw, handle_->min, handle_->max);
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

int AlsaMixer::SetVolume(int volume) {
  int v = volume & 0xFF;
  if (v > 100) v = 100;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!handle_ && !Open()) return -1;
    const long span = handle_->max - handle_->min;
    const long raw = handle_->min + (v * span + 50) / 100;
    if (snd_mixer_selem_set_playback_volume_all(handle_->element, raw) < 0) {
      Close();
      continue;
    }
    for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
      const auto channel = static_cast<snd_mixer_selem_channel_id_t>(ch);
      long left = 0;
      if (snd_mixer_selem_has_playback_channel(handle_->element, channel) &&
          snd_mixer_selem_get_playback_volume(handle_->element, channel, &left) >= 0)
        return Percent(left, handle_->min, handle_->max);
    }
    return v;
  }
  return -1;
}
