#include "plugin/commands.h"

#include <cstdio>
#include <cstring>

namespace {

// Wide enough for current +- 10 at either end of the int32 range.
int JumpToEntry(HostPort& host, int64_t number) {
  const int32_t length = static_cast<int32_t>(host.Request(kReqListLength, 0));
  if (number > length || number < 1) return 0;
  host.Request(kReqSetListPos, static_cast<uintptr_t>(number - 1));
  host.Command(kCmdPlay);
  return 1;
}

int32_t AsInt(intptr_t result) { return static_cast<int32_t>(result); }

void SetLine2(UpdateState& state, const char* text) {
  std::snprintf(state.line2, sizeof state.line2, "%s", text);
}

// 1-based number of the host's current entry.
int64_t CurrentEntry(HostPort& host) {
  return static_cast<int64_t>(AsInt(host.Request(kReqListPos, 0))) + 1;
}

void JumpWithFeedback(UpdateState& state, HostPort& host, int64_t number, const char* text) {
  const int ok = JumpToEntry(host, number);
  SetLine2(state, ok ? text : "Errore seek");
  state.dirty = true;
}

void ChangeVolume(UpdateState& state, const UpdateContext& ctx, int delta) {
  RestoreVolume(state, ctx.host);
  int64_t v = static_cast<int64_t>(GetWaveVolume(state, ctx.wave)) + delta;
  if (v > 255) v = 255;
  if (v < 0) v = 0;
  SetHostVolume(state, ctx.host, static_cast<uint32_t>(v));
  const int64_t marks = v * 16 / 255;
  for (int i = 0; i < 16; ++i) state.line2[i] = i < marks ? '>' : ' ';
  state.line2[16] = '\0';
  state.dirty = true;
}

void KeyAction(UpdateState& state, const UpdateContext& ctx, uint8_t command) {
  HostPort& host = ctx.host;
  switch (command) {
    case 12:
      if (!state.muted) {
        state.muted = true;
        state.savedVolume = GetWaveVolume(state, ctx.wave);
        SetHostVolume(state, host, 1);  // 0 would not mute the host reliably
        SetLine2(state, "Mute");
        state.dirty = true;
      } else {
        RestoreVolume(state, host);
      }
      break;
    case 16: ChangeVolume(state, ctx, +5); break;
    case 17: ChangeVolume(state, ctx, -5); break;
    case 26: JumpWithFeedback(state, host, CurrentEntry(host) - 10, "Down 10"); break;
    case 30: JumpWithFeedback(state, host, CurrentEntry(host) + 10, "Up 10"); break;
    case 32: host.Command(kCmdNext); SetLine2(state, "Prog+"); state.dirty = true; break;
    case 33: host.Command(kCmdPrevious); SetLine2(state, "Prog-"); state.dirty = true; break;
    case 48: host.Command(kCmdPause); SetLine2(state, "Un/pause"); break;
    case 53: host.Command(kCmdPlay); SetLine2(state, "Play"); state.dirty = true; break;
    case 54:
      RestoreVolume(state, host);
      host.Command(kCmdStop);
      SetLine2(state, "Stop");
      state.dirty = true;
      break;
    case 63: JumpWithFeedback(state, host, 1, "Start PL"); break;
    default: break;
  }
}

}  // namespace

int JumpToTrack(HostPort& host, int32_t number) { return JumpToEntry(host, number); }

uint32_t GetWaveVolume(UpdateState& state, WaveVolume& wave) {
  uint32_t packed = 0;
  if (!wave.Read(packed)) return state.lastSentVolume;
  return ((packed & 0xFFFFu) + (packed >> 16)) / 510;
}

void SetHostVolume(UpdateState& state, HostPort& host, uint32_t volume) {
  state.lastSentVolume = volume;
  host.Request(kReqSetVolume, volume);
}

void RestoreVolume(UpdateState& state, HostPort& host) {
  if (!state.muted) return;
  state.muted = false;
  SetHostVolume(state, host, state.savedVolume);
}

void HandleKey(UpdateState& state, const UpdateContext& ctx, const QueueEntry& entry) {
  state.lastStatusTick = ctx.clock.Now();
  if (entry.command <= 9) {
    state.lastDigitTick = entry.tick;
    if (entry.command == 0 && state.trackNumber == 0) return;
    if (state.trackNumber <= (kMaxTypedNumber - entry.command) / 10)
      state.trackNumber = state.trackNumber * 10 + entry.command;
    std::snprintf(state.line2, sizeof state.line2, "Brano %d", static_cast<int>(state.trackNumber));
    state.dirty = true;
    return;
  }
  if (state.trackNumber != 0) {
    if (!JumpToTrack(ctx.host, state.trackNumber)) SetLine2(state, "Errore seek");
    RestoreVolume(state, ctx.host);
    state.dirty = true;
    state.trackNumber = 0;
    return;
  }
  KeyAction(state, ctx, entry.command);
}

void QueueStep(UpdateState& state, CommandQueue& queue, const UpdateContext& ctx) {
  QueueEntry entry;
  if (!QueueFront(queue, entry)) return;
  HandleKey(state, ctx, entry);
  QueuePop(queue);
}

void DigitTimeout(UpdateState& state, const UpdateContext& ctx) {
  if (state.trackNumber == 0) return;
  const uint32_t now = ctx.clock.Now();
  if (now - state.lastDigitTick <= kDigitTimeoutMs) return;
  state.lastStatusTick = now;
  if (!JumpToTrack(ctx.host, state.trackNumber)) SetLine2(state, "Errore seek");
  state.dirty = true;
  state.trackNumber = 0;
}
