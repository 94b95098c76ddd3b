#include "plugin/receiver.h"

bool FilterKey(ReceiverState& state, IrKey key, uint32_t now) {
  if (key.system != 16 && key.system != 20) return false;
  const bool volumeKey = key.command == 16 || key.command == 17;
  if (state.lastKeyTick != kNeverTick && now - state.lastKeyTick < kRepeatWindowMs) {
    // A held key other than volume keeps restarting the window, so it acts
    // once; a held volume key gets through again once the window has passed.
    if (!volumeKey) state.lastKeyTick = now;
    return false;
  }
  state.lastKeyTick = now;
  return true;
}

void ReceiverStep(ReceiverState& state, CommandQueue& queue, SerialReader& line,
                  Clock& clock, Alerts& alerts) {
  const IoStatus waited = line.WaitForInput();
  if (waited == IoStatus::kStopped) return;
  if (waited == IoStatus::kIdle) {
    alerts.Pause(kPollPauseMs);
    return;
  }
  if (waited != IoStatus::kDone) {
    LimitedBeep(state.beeper, alerts, clock.Now());
    alerts.Pause(kRetryPauseMs);
    return;
  }
  uint8_t frame[2] = {0, 0};
  line.ReadFrame(frame);
  const IrKey key = SplitIrFrame(frame[0], frame[1]);
  const uint32_t now = clock.Now();
  if (!FilterKey(state, key, now)) return;
  QueueEntry entry;
  entry.command = key.command;
  entry.system = key.system;
  entry.tick = now;
  if (!QueuePush(queue, entry)) ++state.droppedFull;
}
