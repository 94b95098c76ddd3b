// Win32 side of the plug-in's interfaces: the host window, the tick counter,
// the wave-out volume, beeps, and the overlapped serial port.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "plugin/host.h"

// The open serial port, shared by the host's thread, which replaces it, and
// both workers, which use it. Windows hands a closed handle's value out again
// at once, so a worker that used a value after its close could touch any
// object of the host. Hence a worker holds the port for each operation, and
// the host's thread closes a port only once no worker holds it.
class SharedPort {
  struct Entry;

 public:
  // One operation's hold on the port: the handle stays open until it ends.
  class Use {
   public:
    explicit Use(SharedPort& port);
    ~Use();
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    HANDLE handle() const;
    uint32_t generation() const;

   private:
    SharedPort& port_;
    Entry* entry_;
  };

  // Counts every port opened; 0 while none is open. A handle value can come
  // back after a close, a generation cannot.
  uint32_t Generation() const { return generation_.load(std::memory_order_acquire); }

  // Takes a port just opened; the previous one must have been closed.
  void Adopt(HANDLE port);
  // Cancels every pending operation on the port and closes it once no worker
  // holds it, waiting up to waitMs for that; a port still held then is closed
  // by its last user.
  void Close(DWORD waitMs);
  // Cancels every pending operation, from any thread, on the open port.
  void CancelPending();

 private:
  void Release(Entry* entry);

  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE released_ = CONDITION_VARIABLE_INIT;
  Entry* current_ = nullptr;
  uint32_t opened_ = 0;
  std::atomic<uint32_t> generation_{0};
};

// Module-wide settings and the port.
extern char PortName[32];
extern SharedPort SerialHandle;
HWND HostWindow();

// How long the host's thread waits for the workers to let go of a port it
// closes; they let go as soon as their cancelled operation has ended.
constexpr DWORD kPortReleaseWaitMs = 1000;

// Closes any open port and opens PortName with the control unit's settings;
// 1 on success, 0 after telling the user.
int OpenCommPort();

// The serial ports the machine has (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM).
std::vector<std::string> MachinePorts();

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

// Pauses end early when stop (a manual-reset event) is set.
class Win32Alerts : public Alerts {
 public:
  explicit Win32Alerts(HANDLE stop) : stop_(stop) {}
  void Beep() override { MessageBeep(0); }
  void Pause(uint32_t ms) override { WaitForSingleObject(stop_, ms); }

 private:
  HANDLE stop_;
};

// One thread's overlapped operations on SerialHandle, with an event of its
// own. Every wait also watches stop: once it is set, the pending operation
// is cancelled and awaited, and the call reports kStopped.
class OverlappedPort : public SerialReader, public SerialWriter {
 public:
  explicit OverlappedPort(HANDLE stop);
  ~OverlappedPort() override;
  OverlappedPort(const OverlappedPort&) = delete;
  OverlappedPort& operator=(const OverlappedPort&) = delete;

  IoStatus WaitForInput() override;
  void ReadFrame(uint8_t frame[2]) override;
  IoStatus WriteFrame(const std::string& frame) override;

 private:
  enum class Wake { kCompleted, kReady, kTimedOut, kReplaced, kStopped, kFailed };
  static constexpr DWORD kSliceMs = 100;
  static constexpr DWORD kReadLimitMs = 500;
  // Far beyond the longest frame at 2400 baud (about 300 ms).
  static constexpr DWORD kWriteLimitMs = 2000;

  bool Stopping() const { return WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0; }
  Wake Await(const SharedPort::Use& use, DWORD limitMs, bool (*ready)(HANDLE));
  void Cancel(HANDLE port);

  HANDLE stop_;
  HANDLE event_;
  OVERLAPPED overlapped_;
  uint32_t pollingGeneration_ = 0;  // a port whose waits never work
  DWORD mask_ = 0;
  DWORD count_ = 0;
  uint8_t buffer_[2] = {0, 0};
};
