#include "console/dispatch.h"

#include "console/clock.h"
#include "console/decoder.h"
#include "console/mixer.h"
#include "console/trace.h"
#include "link/link.h"

namespace {

bool AlwaysRepeats(int slot) {
  return slot == KeyVolumeUp || slot == KeyVolumeDown || slot == KeyJumpForward ||
         slot == KeyJumpBack;
}

void VolumeStep(PlayerState& state, int slot) {
  int v = state.mixer->GetVolume();
  if (slot == KeyMute) {
    if (state.muted) {
      state.muted = false;
      v = state.savedVolume;
    } else {
      state.muted = true;
      state.savedVolume = static_cast<uint8_t>(v);
      v = 0;
    }
  } else {
    if (state.muted) v = state.savedVolume;
    state.muted = false;
    if (slot == KeyVolumeUp) {
      v += 5;
      if (v > 100) v = 100;
    } else {
      v -= 5;
      if (v < 0) v = 0;
    }
  }
  // What the mixer took is what the user sees; without one, what was asked.
  const int taken = state.mixer->SetVolume(v);
  if (taken >= 0) v = taken;
  Trace("Volume=%d%%\n", v);
  state.refreshNow = true;
  state.volumeBar = VolumeBar(v);
}

Next MoveTrack(PlayerState& state, int by) {
  state.track += by;
  if (state.track >= state.trackCount) return Next::Kill();
  if (state.track < 0) state.track = 0;
  LoadTrack(state);
  return Next::GoOn();
}

}  // namespace

std::string VolumeBar(int volume) {
  if (volume > 100) volume = 100;
  if (volume < 0) volume = 0;
  return std::string(static_cast<size_t>(volume * 16 / 100), '>');
}

Next PerformSlot(PlayerState& state, int slot) {
  switch (slot) {
    case KeyQuit:
      return Next::Quit(2);
    case KeyPlay:
      if (state.paused && state.playing) {
        state.paused = false;
        SendDecoderCommand(state, "PAUSE");
      } else {
        LoadTrack(state);
      }
      break;
    case KeyPause:
      if (state.playing) {
        state.paused = !state.paused;
        SendDecoderCommand(state, "PAUSE");
      }
      break;
    case KeyStop:
      if (state.playing) {
        state.playing = false;
        state.paused = true;
        SendDecoderCommand(state, "STOP");
      }
      break;
    case KeyVolumeUp:
    case KeyVolumeDown:
    case KeyMute:
      VolumeStep(state, slot);
      break;
    case KeyJumpForward:
      SendDecoderCommand(state, "JUMP +200");
      break;
    case KeyJumpBack:
      SendDecoderCommand(state, "JUMP -200");
      break;
    case KeyNextTrack:
      return MoveTrack(state, 1);
    case KeyPreviousTrack:
      return MoveTrack(state, -1);
    case KeyForwardTen:
      return MoveTrack(state, 10);
    case KeyBackTen:
      return MoveTrack(state, -10);
    case KeyMode:
      state.seekMode = NextSeekMode(state.seekMode);
      break;
    default:  // digits and KeyNone
      break;
  }
  return Next::GoOn();
}

Next DispatchKey(PlayerState& state, const uint8_t frame[2]) {
  const uint16_t code = MakeRemoteCode(frame[0], frame[1]);
  Trace("IR Command: %04X\n", code);
  int slot = LookupKey(state.keys, code);
  if (slot == KeyNextTrack || slot == KeyPreviousTrack) slot = SetSeekMode(slot, state.seekMode);
  // Every frame restarts the window, an unknown code's too; volume and jump
  // slots go on acting while their key is held.
  const HeldKey held = AlwaysRepeats(slot) ? HeldKey::kEveryFrame : HeldKey::kOnce;
  if (!state.repeats.Acts(code, state.clock->Now(), held)) slot = KeyNone;
  return PerformSlot(state, slot);
}
