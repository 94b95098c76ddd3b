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

// Waits for the pending operation in slices: a port replaced under it, whose
// completion might never be signalled, must not hold the thread for good, and
// `ready`, when given, may end the wait early. The operation's own status
// decides completion, so a signal left over from an earlier operation on the
// same event is cleared and waited past.
OverlappedPort::Wake OverlappedPort::Await(HANDLE port, DWORD limitMs, bool (*ready)(HANDLE)) {
  DWORD waited = 0;
  for (;;) {
    if (HasOverlappedIoCompleted(&overlapped_)) return Wake::kCompleted;
    const DWORD result = WaitForSingleObject(event_, kSliceMs);
    if (result == WAIT_OBJECT_0) {
      if (HasOverlappedIoCompleted(&overlapped_)) return Wake::kCompleted;
      ResetEvent(event_);
      continue;
    }
    if (result != WAIT_TIMEOUT) return Wake::kFailed;
    waited += kSliceMs;
    const bool replaced = SerialHandle.load(std::memory_order_acquire) != port;
    const bool enough = limitMs != 0 && waited >= limitMs;
    const bool early = !replaced && !enough && ready != nullptr && ready(port);
    if (replaced || enough || early) {
      Cancel(port);
      return early ? Wake::kReady : replaced ? Wake::kFailed : Wake::kTimedOut;
    }
  }
}

// The record and buffer stay in use until the cancelled operation has ended.
void OverlappedPort::Cancel(HANDLE port) {
  CancelIoEx(port, &overlapped_);
  for (int i = 0; i < 20 && !HasOverlappedIoCompleted(&overlapped_); ++i)
    WaitForSingleObject(event_, 50);
}

namespace {

// Characters already in the input queue when a wait begins raise no new
// event, so a whole frame there is looked for first.
bool QueuedInput(HANDLE port, DWORD& count) {
  DWORD errors = 0;
  COMSTAT comstat;
  if (!ClearCommError(port, &errors, &comstat)) return false;
  count = comstat.cbInQue;
  return true;
}

bool FrameWaiting(HANDLE port) {
  DWORD count = 0;
  return QueuedInput(port, count) && count >= 2;
}

}  // namespace

IoStatus OverlappedPort::WaitForInput() {
  HANDLE port = SerialHandle.load(std::memory_order_acquire);
  if (port == pollingPort_) {
    DWORD count = 0;
    if (!QueuedInput(port, count)) return IoStatus::kFailed;
    return count >= 2 ? IoStatus::kDone : IoStatus::kIdle;
  }
  if (FrameWaiting(port)) return IoStatus::kDone;
  ResetEvent(event_);
  if (!WaitCommEvent(port, &mask_, &overlapped_)) {
    if (GetLastError() != ERROR_IO_PENDING) return IoStatus::kFailedAtOnce;
    switch (Await(port, 0, FrameWaiting)) {
      case Wake::kCompleted: break;
      case Wake::kReady: return IoStatus::kDone;
      default: return IoStatus::kFailed;
    }
  }
  if (GetOverlappedResult(port, &overlapped_, &count_, FALSE)) return IoStatus::kDone;
  // A driver that cannot watch the line cancels the wait although the port
  // stays open (a pseudo-terminal under Wine does, and its pending reads are
  // unreliable too). The port itself works, so from now on its input queue is
  // polled and only whole frames are read, which never leaves a read pending.
  if (GetLastError() == ERROR_OPERATION_ABORTED && SerialHandle.load(std::memory_order_acquire) == port) {
    pollingPort_ = port;
    return FrameWaiting(port) ? IoStatus::kDone : IoStatus::kIdle;
  }
  return IoStatus::kFailed;
}

void OverlappedPort::ReadFrame(uint8_t frame[2]) {
  HANDLE port = SerialHandle.load(std::memory_order_acquire);
  ResetEvent(event_);
  buffer_[0] = buffer_[1] = 0;
  // A frame's second byte follows within milliseconds. One that never comes
  // is given up, so that the next frame is read from its own first byte.
  if (!ReadFile(port, buffer_, 2, &count_, &overlapped_) && GetLastError() == ERROR_IO_PENDING)
    Await(port, kReadLimitMs, nullptr);
  GetOverlappedResult(port, &overlapped_, &count_, FALSE);
  frame[0] = buffer_[0];
  frame[1] = buffer_[1];
}

IoStatus OverlappedPort::WriteFrame(const std::string& frame) {
  HANDLE port = SerialHandle.load(std::memory_order_acquire);
  ResetEvent(event_);
  if (!WriteFile(port, frame.data(), static_cast<DWORD>(frame.size()), &count_, &overlapped_)) {
    if (GetLastError() != ERROR_IO_PENDING) return IoStatus::kFailedAtOnce;
    if (Await(port, kWriteLimitMs, nullptr) != Wake::kCompleted) return IoStatus::kFailed;
  }
  return GetOverlappedResult(port, &overlapped_, &count_, FALSE) ? IoStatus::kDone : IoStatus::kFailed;
}
