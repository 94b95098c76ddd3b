#include "plugin/receiver.h"

bool FilterKey(ReceiverState& state, IrKey key, uint32_t now) {
  if (key.system != 16 && key.system != 20) return false;
  const bool volumeKey = key.command == 16 || key.command == 17;
  // Any frame within the window is the same press, whichever key it carries.
  return state.repeats.Acts(0, now, volumeKey ? HeldKey::kEveryWindow : HeldKey::kOnce);
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
