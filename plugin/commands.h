// The command half of the update thread: remote keys become host messages and
// short feedback texts on display line 2.
#pragma once

#include <cstdint>

#include "plugin/command_queue.h"
#include "plugin/host.h"

struct UpdateState {
  char line1[32] = "";
  char line2[32] = "";
  int32_t trackNumber = 0;  // number being typed on the digit keys, 0 = none
  uint32_t lastDigitTick = 0;
  bool muted = false;
  uint32_t savedVolume = 0;  // 0..257 (the device scale tops out above 255)
  uint32_t lastStatusTick = kNeverTick;
  bool dirty = false;
  // The last volume sent to the host; stands in for an unreadable device.
  uint32_t lastSentVolume = 255;
  BeepLimiter beeper;
};

// Everything the update thread talks to.
struct UpdateContext {
  HostPort& host;
  Clock& clock;
  WaveVolume& wave;
  SerialWriter& serial;
  Alerts& alerts;
};

// A typed number stops growing here: any more digits cannot name an entry
// that a play list of int32 length could hold, and it cannot overflow.
constexpr int32_t kMaxTypedNumber = 999999999;
constexpr uint32_t kDigitTimeoutMs = 1000;

// Selects entry number (1-based) and starts it; 0 when there is no such entry.
// Numbers below 1 fail like numbers past the end: no index below 0 is sent.
int JumpToTrack(HostPort& host, int32_t number);

// Device volume on the host's 0..255 scale ((left + right) / 510, so full
// volume reads 257); the last volume the plug-in set when the device fails.
uint32_t GetWaveVolume(UpdateState& state, WaveVolume& wave);

void SetHostVolume(UpdateState& state, HostPort& host, uint32_t volume);

// Undo mute, if on, by sending back the saved volume.
void RestoreVolume(UpdateState& state, HostPort& host);

// One queue entry: digits, commit of a typed number, or the key's action.
void HandleKey(UpdateState& state, const UpdateContext& ctx, const QueueEntry& entry);

// Queue step of a pass: handle at most one key, then free its slot.
void QueueStep(UpdateState& state, CommandQueue& queue, const UpdateContext& ctx);

// Commits a typed number once no digit has come for more than a second.
void DigitTimeout(UpdateState& state, const UpdateContext& ctx);
