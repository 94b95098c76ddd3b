#include "plugin/win32_platform.h"

#include <mmsystem.h>

#include <cstdio>

#include "plugin/ports.h"

char PortName[32] = "COM1";
SharedPort SerialHandle;

struct SharedPort::Entry {
  HANDLE handle;
  uint32_t generation;
  int users;
  bool closing;  // replaced while held: the last user closes it
};

SharedPort::Use::Use(SharedPort& port) : port_(port) {
  AcquireSRWLockExclusive(&port.lock_);
  entry_ = port.current_;
  if (entry_ != nullptr) ++entry_->users;
  ReleaseSRWLockExclusive(&port.lock_);
}

SharedPort::Use::~Use() {
  if (entry_ != nullptr) port_.Release(entry_);
}

HANDLE SharedPort::Use::handle() const { return entry_ != nullptr ? entry_->handle : INVALID_HANDLE_VALUE; }

uint32_t SharedPort::Use::generation() const { return entry_ != nullptr ? entry_->generation : 0; }

void SharedPort::Release(Entry* entry) {
  AcquireSRWLockExclusive(&lock_);
  const bool last = --entry->users == 0 && entry->closing;
  ReleaseSRWLockExclusive(&lock_);
  WakeAllConditionVariable(&released_);
  if (last) {
    CloseHandle(entry->handle);
    delete entry;
  }
}

void SharedPort::Adopt(HANDLE port) {
  Entry* entry = new Entry{port, 0, 0, false};
  AcquireSRWLockExclusive(&lock_);
  entry->generation = ++opened_ == 0 ? ++opened_ : opened_;
  current_ = entry;
  generation_.store(entry->generation, std::memory_order_release);
  ReleaseSRWLockExclusive(&lock_);
}

void SharedPort::Close(DWORD waitMs) {
  AcquireSRWLockExclusive(&lock_);
  Entry* entry = current_;
  current_ = nullptr;
  generation_.store(0, std::memory_order_release);
  if (entry == nullptr) {
    ReleaseSRWLockExclusive(&lock_);
    return;
  }
  CancelIoEx(entry->handle, nullptr);
  const DWORD start = GetTickCount();
  while (entry->users > 0) {
    const DWORD waited = GetTickCount() - start;
    if (waited >= waitMs || !SleepConditionVariableSRW(&released_, &lock_, waitMs - waited, 0)) break;
  }
  const bool free = entry->users == 0;
  entry->closing = !free;
  ReleaseSRWLockExclusive(&lock_);
  if (free) {
    CloseHandle(entry->handle);
    delete entry;
  }
}

void SharedPort::CancelPending() {
  AcquireSRWLockExclusive(&lock_);
  if (current_ != nullptr) CancelIoEx(current_->handle, nullptr);
  ReleaseSRWLockExclusive(&lock_);
}

void ShowError(const char* text) { MessageBoxA(HostWindow(), text, "Errore", MB_ICONERROR | MB_OK); }

int OpenCommPort() {
  // The old handle goes first: the port opens without sharing, so the same
  // port chosen again could not be opened beside it.
  SerialHandle.Close(kPortReleaseWaitMs);

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

  const std::string path = PortPath(PortName);
  HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (port != INVALID_HANDLE_VALUE && SetCommState(port, &dcb) && SetCommMask(port, EV_RXCHAR)) {
    SerialHandle.Adopt(port);
    return 1;
  }
  char text[64];
  std::snprintf(text, sizeof text, "Impossibile impostare %s!", PortName);
  ShowError(text);
  if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  return 0;
}

std::vector<std::string> MachinePorts() {
  std::vector<std::string> ports;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS)
    return ports;
  for (DWORD index = 0;; ++index) {
    char name[256];
    char data[64];
    DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
    const LONG result = RegEnumValueA(key, index, name, &nameSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
    if (result == ERROR_MORE_DATA) continue;  // no port name is that long
    if (result != ERROR_SUCCESS) break;
    if (type != REG_SZ) continue;
    data[dataSize] = '\0';  // stored data need not end in a zero
    ports.emplace_back(data);
  }
  RegCloseKey(key);
  return ports;
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

OverlappedPort::OverlappedPort(HANDLE stop) : stop_(stop), event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
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
// same event is cleared and waited past. Whatever ends the wait early, the
// operation is cancelled and has ended before this returns: the record and
// the buffer are this thread's and are used again.
OverlappedPort::Wake OverlappedPort::Await(const SharedPort::Use& use, DWORD limitMs, bool (*ready)(HANDLE)) {
  HANDLE port = use.handle();
  const HANDLE events[2] = {event_, stop_};
  DWORD waited = 0;
  for (;;) {
    if (HasOverlappedIoCompleted(&overlapped_)) return Wake::kCompleted;
    const DWORD result = WaitForMultipleObjects(2, events, FALSE, kSliceMs);
    if (result == WAIT_OBJECT_0) {
      if (HasOverlappedIoCompleted(&overlapped_)) return Wake::kCompleted;
      ResetEvent(event_);
      continue;
    }
    Wake early = Wake::kFailed;
    if (result == WAIT_OBJECT_0 + 1) {
      early = Wake::kStopped;
    } else if (result == WAIT_TIMEOUT) {
      waited += kSliceMs;
      if (SerialHandle.Generation() != use.generation()) early = Wake::kReplaced;
      else if (limitMs != 0 && waited >= limitMs) early = Wake::kTimedOut;
      else if (ready != nullptr && ready(port)) early = Wake::kReady;
      else continue;
    }
    Cancel(port);
    return early;
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
  if (Stopping()) return IoStatus::kStopped;
  const SharedPort::Use use(SerialHandle);
  HANDLE port = use.handle();
  if (port == INVALID_HANDLE_VALUE) return IoStatus::kFailedAtOnce;
  if (use.generation() == pollingGeneration_) {
    DWORD count = 0;
    if (!QueuedInput(port, count)) return IoStatus::kFailed;
    return count >= 2 ? IoStatus::kDone : IoStatus::kIdle;
  }
  if (FrameWaiting(port)) return IoStatus::kDone;
  ResetEvent(event_);
  if (!WaitCommEvent(port, &mask_, &overlapped_)) {
    if (GetLastError() != ERROR_IO_PENDING) return IoStatus::kFailedAtOnce;
    switch (Await(use, 0, FrameWaiting)) {
      case Wake::kCompleted: break;
      case Wake::kReady: return IoStatus::kDone;
      case Wake::kStopped: return IoStatus::kStopped;
      default: return IoStatus::kFailed;
    }
  }
  if (GetOverlappedResult(port, &overlapped_, &count_, FALSE)) return IoStatus::kDone;
  // Ended by a stop request or by the port's replacement, not by the line.
  if (Stopping()) return IoStatus::kStopped;
  // A driver that cannot watch the line cancels the wait although the port
  // stays open (a pseudo-terminal under Wine does, and its pending reads are
  // unreliable too). The port itself works, so from now on its input queue is
  // polled and only whole frames are read, which never leaves a read pending.
  if (GetLastError() == ERROR_OPERATION_ABORTED && SerialHandle.Generation() == use.generation()) {
    pollingGeneration_ = use.generation();
    return FrameWaiting(port) ? IoStatus::kDone : IoStatus::kIdle;
  }
  return IoStatus::kFailed;
}

void OverlappedPort::ReadFrame(uint8_t frame[2]) {
  const SharedPort::Use use(SerialHandle);
  HANDLE port = use.handle();
  ResetEvent(event_);
  buffer_[0] = buffer_[1] = 0;
  // A frame's second byte follows within milliseconds. One that never comes
  // is given up, so that the next frame is read from its own first byte.
  if (port != INVALID_HANDLE_VALUE && !ReadFile(port, buffer_, 2, &count_, &overlapped_) &&
      GetLastError() == ERROR_IO_PENDING)
    Await(use, kReadLimitMs, nullptr);
  frame[0] = buffer_[0];
  frame[1] = buffer_[1];
}

IoStatus OverlappedPort::WriteFrame(const std::string& frame) {
  if (Stopping()) return IoStatus::kStopped;
  const SharedPort::Use use(SerialHandle);
  HANDLE port = use.handle();
  if (port == INVALID_HANDLE_VALUE) return IoStatus::kFailedAtOnce;
  ResetEvent(event_);
  if (!WriteFile(port, frame.data(), static_cast<DWORD>(frame.size()), &count_, &overlapped_)) {
    if (GetLastError() != ERROR_IO_PENDING) return IoStatus::kFailedAtOnce;
    switch (Await(use, kWriteLimitMs, nullptr)) {
      case Wake::kCompleted: break;
      case Wake::kStopped: return IoStatus::kStopped;
      default: return IoStatus::kFailed;
    }
  }
  if (GetOverlappedResult(port, &overlapped_, &count_, FALSE)) return IoStatus::kDone;
  return Stopping() ? IoStatus::kStopped : IoStatus::kFailed;
}
