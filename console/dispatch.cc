#include "console/dispatch.h"

#include "console/clock.h"
#include "console/display.h"
#include "console/mixer.h"
#include "console/player.h"
#include "posix/trace.h"
#include "console/transport.h"
#include "link/link.h"

namespace {

bool AlwaysRepeats(int slot) {
  return slot == KeyVolumeUp || slot == KeyVolumeDown || slot == KeyJumpForward ||
         slot == KeyJumpBack;
}

void VolumeStep(KeyState& remote, Mixer& mixer, DisplayState& display, int slot) {
  int v = mixer.GetVolume();
  if (slot == KeyMute) {
    if (remote.muted) {
      remote.muted = false;
      v = remote.savedVolume;
    } else {
      remote.muted = true;
      remote.savedVolume = static_cast<uint8_t>(v);
      v = 0;
    }
  } else {
    if (remote.muted) v = remote.savedVolume;
    remote.muted = false;
    if (slot == KeyVolumeUp) {
      v += 5;
      if (v > 100) v = 100;
    } else {
      v -= 5;
      if (v < 0) v = 0;
    }
  }
  // What the mixer took is what the user sees; without one, what was asked.
  const int taken = mixer.SetVolume(v);
  if (taken >= 0) v = taken;
  Trace("Volume=%d%%\n", v);
  ShowVolume(display, v);
}

// The jump keys move 200 frames of an MPEG track.
constexpr int kJumpFrames = 200;

// The slot's action alone, without lookup or filter.
Next PerformSlot(PlayerState& state, int slot) {
  Transport& transport = state.transport;
  Engine& engine = *state.engine;
  switch (slot) {
    case KeyQuit:
      return Next::Quit(2);
    case KeyPlay:
      Play(transport, engine);
      break;
    case KeyPause:
      Pause(transport, engine);
      break;
    case KeyStop:
      Stop(transport, engine);
      break;
    case KeyVolumeUp:
    case KeyVolumeDown:
    case KeyMute:
      VolumeStep(state.remote, *state.mixer, state.display, slot);
      break;
    case KeyJumpForward:
      engine.JumpFrames(kJumpFrames);
      break;
    case KeyJumpBack:
      engine.JumpFrames(-kJumpFrames);
      break;
    case KeyNextTrack:
      return MoveTrack(transport, engine, 1);
    case KeyPreviousTrack:
      return MoveTrack(transport, engine, -1);
    case KeyForwardTen:
      return MoveTrack(transport, engine, 10);
    case KeyBackTen:
      return MoveTrack(transport, engine, -10);
    case KeyMode:
      state.remote.seekMode = NextSeekMode(state.remote.seekMode);
      break;
    default:  // digits and KeyNone
      break;
  }
  return Next::GoOn();
}

}  // namespace

Next DispatchKey(PlayerState& state, const uint8_t frame[2]) {
  const uint16_t code = MakeRemoteCode(frame[0], frame[1]);
  TraceRemoteCode(code);
  int slot = LookupKey(state.remote.keys, code);
  if (slot == KeyNextTrack || slot == KeyPreviousTrack)
    slot = SetSeekMode(slot, state.remote.seekMode);
  // Every frame restarts the window, an unknown code's too; volume and jump
  // slots go on acting while their key is held.
  const HeldKey held = AlwaysRepeats(slot) ? HeldKey::kEveryFrame : HeldKey::kOnce;
  if (!state.remote.repeats.Acts(code, state.clock->Now(), held)) slot = KeyNone;
  return PerformSlot(state, slot);
}
