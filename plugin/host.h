// What the plug-in's logic needs from the outside world, as small interfaces so
// that the same logic runs against the Win32 glue and against test fakes.
#pragma once

#include <cstdint>
#include <string>

#include "link/tick.h"

// Requests go to the host window as WM_USER with the number in lParam.
enum HostRequest : unsigned {
  kReqIsPlaying = 104,     // 1 playing, 3 paused, anything else stopped
  kReqOutputTime = 105,    // position in the current entry, ms
  kReqSetListPos = 121,    // wParam: 0-based entry
  kReqSetVolume = 122,     // wParam: 0..255
  kReqListLength = 124,
  kReqListPos = 125,       // 0-based current entry
  kReqEntryTitle = 212,    // wParam: 0-based entry; result: const char* or null
};

// Commands go as WM_COMMAND with the number in wParam, like the host's buttons.
enum HostCommand : unsigned {
  kCmdPrevious = 40044,
  kCmdPlay = 40045,
  kCmdPause = 40046,
  kCmdStop = 40047,
  kCmdNext = 40048,
};

class HostPort {
 public:
  virtual ~HostPort() = default;
  virtual intptr_t Request(unsigned request, uintptr_t arg) = 0;
  virtual void Command(unsigned command) = 0;
};

class WaveVolume {
 public:
  virtual ~WaveVolume() = default;
  // Packed device reading: left channel in the low 16 bits, right in the high.
  virtual bool Read(uint32_t& packed) = 0;
};

class Alerts {
 public:
  virtual ~Alerts() = default;
  virtual void Beep() = 0;
  virtual void Pause(uint32_t ms) = 0;
};

// How a serial operation ended. kFailedAtOnce means nothing is pending, so the
// operation's event will not be signalled and must not be waited for. kIdle:
// the port works but had nothing to report; look again shortly. kStopped: the
// thread was asked to stop and its operation was cut short; nothing failed.
enum class IoStatus { kDone, kFailed, kFailedAtOnce, kIdle, kStopped };

class SerialReader {
 public:
  virtual ~SerialReader() = default;
  virtual IoStatus WaitForInput() = 0;
  // Reads up to 2 bytes into frame; what the buffer then holds is decoded.
  virtual void ReadFrame(uint8_t frame[2]) = 0;
};

class SerialWriter {
 public:
  virtual ~SerialWriter() = default;
  virtual IoStatus WriteFrame(const std::string& frame) = 0;
};

// A port that is gone fails on every try; one beep a second is enough to tell.
struct BeepLimiter {
  uint32_t lastBeep = kNeverTick;
  static constexpr uint32_t kMinGapMs = 1000;
};

inline void LimitedBeep(BeepLimiter& limiter, Alerts& alerts, uint32_t now) {
  if (!MoreThan(now, limiter.lastBeep, BeepLimiter::kMinGapMs - 1)) return;
  limiter.lastBeep = TickStamp(now);
  alerts.Beep();
}
