#include "plugin/win32_platform.h"

#include <mmsystem.h>

#include <cstdio>

char PortName[32] = "COM1";
std::atomic<HANDLE> SerialHandle{INVALID_HANDLE_VALUE};

void ShowError(const char* text) { MessageBoxA(HostWindow(), text, "Errore", MB_ICONERROR | MB_OK); }

int OpenCommPort() {
  HANDLE old = SerialHandle.exchange(INVALID_HANDLE_VALUE, std::memory_order_acq_rel);
  if (old != INVALID_HANDLE_VALUE) CloseHandle(old);

  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 2400;
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;

  HANDLE port = CreateFileA(PortName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (port != INVALID_HANDLE_VALUE && SetCommState(port, &dcb) && SetCommMask(port, EV_RXCHAR)) {
    SerialHandle.store(port, std::memory_order_release);
    return 1;
  }
  char text[64];
  std::snprintf(text, sizeof text, "Impossibile impostare %s!", PortName);
  ShowError(text);
  if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  return 0;
}

intptr_t Win32Host::Request(unsigned request, uintptr_t arg) {
  return SendMessageA(HostWindow(), WM_USER, static_cast<WPARAM>(arg), static_cast<LPARAM>(request));
}

void Win32Host::Command(unsigned command) {
  SendMessageA(HostWindow(), WM_COMMAND, static_cast<WPARAM>(command), 0);
}

bool Win32WaveVolume::Read(uint32_t& packed) {
  DWORD volume = 0;
  HWAVEOUT mapper = reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER));
  if (waveOutGetVolume(mapper, &volume) != MMSYSERR_NOERROR) return false;
  packed = volume;
  return true;
}

OverlappedPort::OverlappedPort() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  ZeroMemory(&overlapped_, sizeof overlapped_);
  overlapped_.hEvent = event_;
}

OverlappedPort::~OverlappedPort() {
  if (event_ != nullptr) CloseHandle(event_);
}

// Waits in slices so that a port replaced under a pending operation, whose
// completion might never be signalled, does not hold the thread for good.
bool OverlappedPort::WaitForEvent(HANDLE port) {
  for (;;) {
    const DWORD result = WaitForSingleObject(event_, 500);
    if (result == WAIT_OBJECT_0) return true;
    if (result != WAIT_TIMEOUT) return false;
    if (SerialHandle.load(std::memory_order_acquire) != port) {
      CancelIoEx(port, &overlapped_);
      return false;
    }
  }
}

// Completes an operation started with `started` as the call's result. A call
// that failed without going pending leaves nothing to wait for.
IoStatus OverlappedPort::Finish(HANDLE port, BOOL started) {
  if (!started) {
    if (GetLastError() != ERROR_IO_PENDING) return IoStatus::kFailedAtOnce;
    if (!WaitForEvent(port)) return IoStatus::kFailed;
  }
  if (!GetOverlappedResult(port, &overlapped_, &count_, FALSE)) return IoStatus::kFailed;
  return IoStatus::kDone;
}

IoStatus OverlappedPort::WaitForInput() {
  HANDLE port = SerialHandle.load(std::memory_order_acquire);
  ResetEvent(event_);
  const IoStatus status = Finish(port, WaitCommEvent(port, &mask_, &overlapped_));
  if (status != IoStatus::kFailed || GetLastError() != ERROR_OPERATION_ABORTED ||
      SerialHandle.load(std::memory_order_acquire) != port)
    return status;
  // Some drivers cannot watch the line and cancel every wait at once (a
  // pseudo-terminal under Wine does). The port itself still works, so look at
  // its input queue instead of treating the line as broken.
  DWORD errors = 0;
  COMSTAT comstat;
  if (!ClearCommError(port, &errors, &comstat)) return IoStatus::kFailed;
  return comstat.cbInQue > 0 ? IoStatus::kDone : IoStatus::kIdle;
}

void OverlappedPort::ReadFrame(uint8_t frame[2]) {
  HANDLE port = SerialHandle.load(std::memory_order_acquire);
  ResetEvent(event_);
  buffer_[0] = buffer_[1] = 0;
  Finish(port, ReadFile(port, buffer_, 2, &count_, &overlapped_));
  frame[0] = buffer_[0];
  frame[1] = buffer_[1];
}

IoStatus OverlappedPort::WriteFrame(const std::string& frame) {
  HANDLE port = SerialHandle.load(std::memory_order_acquire);
  ResetEvent(event_);
  return Finish(port, WriteFile(port, frame.data(), static_cast<DWORD>(frame.size()), &count_,
                                &overlapped_));
}
