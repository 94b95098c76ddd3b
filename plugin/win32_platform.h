// Win32 side of the plug-in's interfaces: the host window, the tick counter,
// the wave-out volume, beeps, and the overlapped serial port.
#pragma once

#include <windows.h>

#include <atomic>

#include "plugin/host.h"

// Module-wide settings and the port, shared by the host's thread (which
// replaces the handle) and both worker threads (which take it afresh per call).
extern char PortName[32];
extern std::atomic<HANDLE> SerialHandle;
HWND HostWindow();

// Closes any open port and opens PortName with the control unit's settings;
// 1 on success, 0 after telling the user.
int OpenCommPort();

void ShowError(const char* text);

class Win32Host : public HostPort {
 public:
  intptr_t Request(unsigned request, uintptr_t arg) override;
  void Command(unsigned command) override;
};

class Win32Clock : public Clock {
 public:
  uint32_t Now() override { return GetTickCount(); }
};

class Win32WaveVolume : public WaveVolume {
 public:
  bool Read(uint32_t& packed) override;
};

class Win32Alerts : public Alerts {
 public:
  void Beep() override { MessageBeep(0); }
  void Pause(uint32_t ms) override { Sleep(ms); }
};

// One thread's overlapped operations on SerialHandle, with an event of its own.
class OverlappedPort : public SerialReader, public SerialWriter {
 public:
  OverlappedPort();
  ~OverlappedPort() override;
  OverlappedPort(const OverlappedPort&) = delete;
  OverlappedPort& operator=(const OverlappedPort&) = delete;

  IoStatus WaitForInput() override;
  void ReadFrame(uint8_t frame[2]) override;
  IoStatus WriteFrame(const std::string& frame) override;

 private:
  enum class Wake { kCompleted, kReady, kTimedOut, kFailed };
  static constexpr DWORD kSliceMs = 100;
  static constexpr DWORD kReadLimitMs = 500;
  // Far beyond the longest frame at 2400 baud (about 300 ms).
  static constexpr DWORD kWriteLimitMs = 2000;

  Wake Await(HANDLE port, DWORD limitMs, bool (*ready)(HANDLE));
  void Cancel(HANDLE port);

  HANDLE event_;
  OVERLAPPED overlapped_;
  HANDLE pollingPort_ = INVALID_HANDLE_VALUE;  // a port whose waits never work
  DWORD mask_ = 0;
  DWORD count_ = 0;
  uint8_t buffer_[2] = {0, 0};
};
