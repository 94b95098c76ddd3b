// Substitute host for the end-to-end tests: loads the plug-in, answers its
// requests from a state the test sets over stdin, and reports on stdout what
// the plug-in sends it. Message boxes, beeps, the wave-out volume and the
// dialog are caught in the plug-in's import table, so the DLL under test is
// the unchanged deliverable; so are its Sleep and WriteFile, which time the
// update pass for the benchmark, and its TerminateThread. It can unload and
// load the plug-in again as often as asked, and count its own threads and
// handles meanwhile.
#include <windows.h>
#include <mmsystem.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "plugin/plugin_record.h"

namespace {

CRITICAL_SECTION Lock;
HWND Window = nullptr;
PluginRecord* Plugin = nullptr;
HMODULE Module = nullptr;
std::string PluginPath;
std::atomic<bool> StubCommWait{false};  // set before init, read by the plug-in's threads

// Host state, set by the test.
int PlayState = 0, OutputMs = 0, ListLength = 0, ListPos = 0;
std::map<int, const char*> Titles;  // strings live in TitleStore for good
std::deque<std::string> TitleStore;
bool WaveOk = false;
DWORD WaveValue = 0;
std::string DialogAction;  // "ok PORT", "ok none", "cancel"
INT_PTR DialogResult = -1;

enum : UINT { kAppInit = WM_APP + 1, kAppConfig, kAppQuit, kAppLoad, kAppUnload };

void Say(const std::string& line) {
  EnterCriticalSection(&Lock);
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
  LeaveCriticalSection(&Lock);
}

int WINAPI FakeMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  Say("box " + std::to_string(owner == Window) + " " + std::to_string(type) + " " + caption + "|" + text);
  return IDOK;
}

// Quit terminates a worker only when it failed to stop in time; the tests
// want to know.
BOOL WINAPI WatchTerminateThread(HANDLE thread, DWORD code) {
  Say("terminate thread");
  return TerminateThread(thread, code);
}

BOOL WINAPI FakeMessageBeep(UINT type) {
  Say("beep " + std::to_string(type));
  return TRUE;
}

MMRESULT WINAPI FakeWaveOutGetVolume(HWAVEOUT, LPDWORD volume) {
  EnterCriticalSection(&Lock);
  const bool ok = WaveOk;
  *volume = WaveValue;
  LeaveCriticalSection(&Lock);
  return ok ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

// Combo box stand-in: a sorted list with a selection, as CBS_SORT keeps it.
std::vector<std::string> ComboItems;
LRESULT ComboSelection = CB_ERR;

LRESULT CALLBACK ComboProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const char* text = reinterpret_cast<const char*>(lParam);
  const auto count = static_cast<LRESULT>(ComboItems.size());
  switch (message) {
    case CB_ADDSTRING: {
      auto at = ComboItems.begin();
      while (at != ComboItems.end() && lstrcmpiA(at->c_str(), text) <= 0) ++at;
      const LRESULT index = at - ComboItems.begin();
      ComboItems.insert(at, text);
      return index;
    }
    case CB_SELECTSTRING:
      // the first item that begins with the text, case ignored
      for (LRESULT i = 0; i < count; ++i)
        if (lstrcmpiA(ComboItems[i].substr(0, std::strlen(text)).c_str(), text) == 0)
          return ComboSelection = i;
      return CB_ERR;
    case CB_SETCURSEL: ComboSelection = static_cast<LRESULT>(wParam) < count ? static_cast<LRESULT>(wParam) : CB_ERR; return ComboSelection;
    case CB_GETCURSEL: return ComboSelection;
    case CB_GETCOUNT: return count;
    case CB_GETLBTEXTLEN:
      return static_cast<LRESULT>(wParam) < count ? static_cast<LRESULT>(ComboItems[wParam].size()) : CB_ERR;
    case CB_GETLBTEXT:
      if (static_cast<LRESULT>(wParam) >= count) return CB_ERR;
      std::strcpy(reinterpret_cast<char*>(lParam), ComboItems[wParam].c_str());
      return static_cast<LRESULT>(ComboItems[wParam].size());
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND DialogWindow = nullptr, ComboWindow = nullptr;

HWND WINAPI FakeGetDlgItem(HWND dialog, int id) {
  return dialog == DialogWindow && id == 1000 ? ComboWindow : nullptr;
}

BOOL WINAPI FakeEndDialog(HWND, INT_PTR result) {
  DialogResult = result;
  return TRUE;
}

// Stands in for the modal dialog: a hidden window with a real combo box,
// driven through the plug-in's own dialog procedure.
INT_PTR WINAPI FakeDialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  const bool found = FindResourceA(instance, name, MAKEINTRESOURCEA(5)) != nullptr;
  Say("dialog id=" + std::to_string(reinterpret_cast<UINT_PTR>(name)) + " found=" + std::to_string(found) +
      " owner=" + std::to_string(owner == Window));
  HWND dialog = CreateWindowExA(0, "NorveloTestHost", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  // Built-in combo boxes cannot be created without a display; a small
  // stand-in answers the CB_ messages the dialog procedure uses.
  // Child windows cannot be made either, so GetDlgItem is caught as well.
  HWND combo = CreateWindowExA(0, "NorveloTestCombo", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  DialogWindow = dialog;
  ComboWindow = combo;
  if (dialog == nullptr || combo == nullptr) {
    Say("dialog cannot-create " + std::to_string(GetLastError()));
    return -1;
  }
  proc(dialog, WM_INITDIALOG, 0, param);
  std::string items;
  const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  char text[64];
  for (LRESULT i = 0; i < count; ++i) {
    SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    items += (i ? "," : "") + std::string(text);
  }
  const LRESULT sel = SendMessageA(combo, CB_GETCURSEL, 0, 0);
  if (sel != CB_ERR) SendMessageA(combo, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(text));
  Say("dialog items=" + items + " sel=" + (sel == CB_ERR ? std::string("-") : std::string(text)));

  std::istringstream action(DialogAction);
  std::string verb, port;
  action >> verb >> port;
  if (port == "none") SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  else if (!port.empty()) SendMessageA(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(port.c_str()));
  DialogResult = -1;
  proc(dialog, WM_COMMAND, MAKEWPARAM(verb == "ok" ? IDOK : IDCANCEL, BN_CLICKED), 0);
  DestroyWindow(combo);
  DestroyWindow(dialog);
  ComboItems.clear();
  ComboSelection = CB_ERR;
  return DialogResult;
}

// Update passes as the benchmark sees them, times in microseconds. Only the
// update thread sleeps 20 ms (the receiver pauses 10 or 250), so a pass runs
// from the end of one such sleep to the start of the next, and the frame
// writes between the two are counted as its own.
constexpr DWORD kPassSleepMs = 20;
struct PassTime {
  double leave, enter;  // out of the sleep before the pass, into the one after
  int writes;
};
CRITICAL_SECTION TimingLock;
bool Timing = false;
double LastLeave = -1;
int WritesInPass = 0;
std::vector<PassTime> Passes;

double Micros() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

void WINAPI FakeSleep(DWORD ms) {
  if (ms != kPassSleepMs) {
    Sleep(ms);
    return;
  }
  const double enter = Micros();
  EnterCriticalSection(&TimingLock);
  if (Timing && LastLeave >= 0) Passes.push_back({LastLeave, enter, WritesInPass});
  LeaveCriticalSection(&TimingLock);
  Sleep(ms);
  const double leave = Micros();
  EnterCriticalSection(&TimingLock);
  LastLeave = leave;
  WritesInPass = 0;
  LeaveCriticalSection(&TimingLock);
}

void CheckPort(const char* call, HANDLE port);

BOOL WINAPI FakeWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  CheckPort("WriteFile", file);
  EnterCriticalSection(&TimingLock);
  ++WritesInPass;
  LeaveCriticalSection(&TimingLock);
  return WriteFile(file, data, size, written, overlapped);
}

std::string PassLine(const char* kind, double leave, double enter, int writes) {
  char text[96];
  std::snprintf(text, sizeof text, "%s %.1f %.1f %d", kind, leave, enter, writes);
  return text;
}

// "timing on" starts a fresh record of the plug-in's passes, "timing off"
// ends it and reports each pass.
void TimingCommand(const std::string& what) {
  EnterCriticalSection(&TimingLock);
  Timing = what == "on";
  std::vector<PassTime> passes;
  if (Timing) {
    Passes.clear();
    Passes.reserve(1 << 16);  // growing it inside a pass would time the allocator
  } else {
    passes.swap(Passes);
  }
  LeaveCriticalSection(&TimingLock);
  if (what == "on") return;
  for (const PassTime& p : passes) Say(PassLine("pass", p.leave, p.enter, p.writes));
  Say("timing end " + std::to_string(passes.size()));
}

// The least a pass can be under this Wine: the 20 ms sleep, then the two
// requests the plug-in's pass makes when nothing is due (entry, its title),
// answered by this host's window thread as the plug-in's are.
void MinimalPasses(int count) {
  std::vector<PassTime> passes;
  passes.reserve(static_cast<size_t>(count));
  double leave = -1;
  for (int i = 0; i <= count; ++i) {
    const double enter = Micros();
    if (leave >= 0) passes.push_back({leave, enter, 0});
    Sleep(kPassSleepMs);
    leave = Micros();
    const LRESULT entry = SendMessageA(Window, WM_USER, 0, 125);
    SendMessageA(Window, WM_USER, static_cast<WPARAM>(entry), 212);
  }
  for (const PassTime& p : passes) Say(PassLine("minpass", p.leave, p.enter, 0));
  Say("minpass end " + std::to_string(passes.size()));
}

// The least a quit can cost under this Wine: a thread blocked in a wait is
// told to end through an event and joined, and both handles are closed.
DWORD WINAPI BlockedThread(LPVOID event) {
  WaitForSingleObject(event, INFINITE);
  return 0;
}

void MinimalQuits(int count) {
  for (int i = 0; i < count; ++i) {
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, BlockedThread, stop, 0, nullptr);
    Sleep(20);
    const double start = Micros();
    SetEvent(stop);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(stop);
    char text[64];
    std::snprintf(text, sizeof text, "minquit %.3f", (Micros() - start) / 1000);
    Say(text);
  }
  Say("minquit end");
}

int CountThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    count += entry.th32OwnerProcessID == GetCurrentProcessId();
  CloseHandle(snapshot);
  return count;
}

// GetProcessHandleCount says 0 under Wine; the system's handle table does not.
int CountHandles() {
  struct Entry {
    ULONG process;
    UCHAR type, flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  struct Table {
    ULONG count;
    Entry entries[1];
  };
  using Query = LONG(WINAPI*)(int, PVOID, ULONG, PULONG);
  constexpr int kSystemHandleInformation = 16;
  auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return -1;
  std::vector<char> buffer(1 << 20);
  ULONG needed = 0;
  while (query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) != 0) {
    if (buffer.size() >= (1u << 28)) return -1;
    buffer.resize(buffer.size() * 2);
  }
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  int count = 0;
  for (ULONG i = 0; i < table->count; ++i) count += table->entries[i].process == GetCurrentProcessId();
  return count;
}

bool PatchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
  BYTE* base = reinterpret_cast<BYTE*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
    if (lstrcmpiA(reinterpret_cast<char*>(base + imp->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<char*>(byName->Name), function) != 0) continue;
      DWORD old;
      VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
      return true;
    }
  }
  return false;
}

// Under Wine 8, once a line-event wait has been pending on a pseudo-terminal,
// a later load of a DLL with a TLS directory can hang; real Windows has no
// such fault. Tests that load the plug-in again and again answer its waits
// here instead, as a serial driver does when the line stays quiet: pending
// until cancelled, by CancelIoEx or the close of the port. The plug-in then
// finds its frames by looking at the input queue; reads and writes stay
// Wine's. A wait still pending when the plug-in is unloaded would complete
// into memory that is gone: the unload reports how many there are.
//
// The same tests watch the port handles the plug-in opens: Windows hands a
// closed value out again at once, so any serial call on one after its close
// could act on an unrelated object of the host. Each is reported as "stale".
CRITICAL_SECTION WaitLock;
struct PendingWait {
  HANDLE port;
  LPOVERLAPPED overlapped;
};
std::vector<PendingWait> PendingWaits;
std::map<HANDLE, bool> PortsOpen;  // true while open

void CheckPort(const char* call, HANDLE port) {
  if (!StubCommWait) return;
  EnterCriticalSection(&WaitLock);
  const auto it = PortsOpen.find(port);
  const bool stale = it != PortsOpen.end() && !it->second;
  LeaveCriticalSection(&WaitLock);
  if (stale) Say(std::string("stale ") + call);
}

HANDLE WINAPI WatchCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE pattern) {
  HANDLE file = CreateFileA(name, access, share, security, disposition, flags, pattern);
  EnterCriticalSection(&WaitLock);
  if (file != INVALID_HANDLE_VALUE) PortsOpen[file] = true;
  LeaveCriticalSection(&WaitLock);
  return file;
}

BOOL WINAPI WatchClearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT status) {
  CheckPort("ClearCommError", port);
  return ClearCommError(port, errors, status);
}

BOOL WINAPI WatchGetOverlappedResult(HANDLE port, LPOVERLAPPED overlapped, LPDWORD count, BOOL wait) {
  CheckPort("GetOverlappedResult", port);
  return GetOverlappedResult(port, overlapped, count, wait);
}

BOOL WINAPI WatchReadFile(HANDLE port, LPVOID data, DWORD size, LPDWORD count, LPOVERLAPPED overlapped) {
  CheckPort("ReadFile", port);
  return ReadFile(port, data, size, count, overlapped);
}

BOOL WINAPI StubWaitCommEvent(HANDLE port, LPDWORD mask, LPOVERLAPPED overlapped) {
  CheckPort("WaitCommEvent", port);
  if (mask != nullptr) *mask = 0;
  overlapped->InternalHigh = 0;
  overlapped->Internal = STATUS_PENDING;
  EnterCriticalSection(&WaitLock);
  PendingWaits.push_back({port, overlapped});
  LeaveCriticalSection(&WaitLock);
  SetLastError(ERROR_IO_PENDING);
  return FALSE;
}

// Completes the stub's waits on port (only the one on overlapped, when given)
// as cancelled.
void CancelWaits(HANDLE port, LPOVERLAPPED overlapped) {
  constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
  EnterCriticalSection(&WaitLock);
  for (auto it = PendingWaits.begin(); it != PendingWaits.end();) {
    if (it->port != port || (overlapped != nullptr && it->overlapped != overlapped)) {
      ++it;
      continue;
    }
    it->overlapped->Internal = kStatusCancelled;
    SetEvent(it->overlapped->hEvent);
    it = PendingWaits.erase(it);
  }
  LeaveCriticalSection(&WaitLock);
}

BOOL WINAPI StubCancelIoEx(HANDLE port, LPOVERLAPPED overlapped) {
  CheckPort("CancelIoEx", port);
  CancelWaits(port, overlapped);
  CancelIoEx(port, overlapped);
  return TRUE;
}

BOOL WINAPI StubCloseHandle(HANDLE handle) {
  CheckPort("CloseHandle", handle);
  CancelWaits(handle, nullptr);
  EnterCriticalSection(&WaitLock);
  const auto it = PortsOpen.find(handle);
  if (it != PortsOpen.end()) it->second = false;
  LeaveCriticalSection(&WaitLock);
  return CloseHandle(handle);
}

size_t WaitsPending() {
  EnterCriticalSection(&WaitLock);
  const size_t count = PendingWaits.size();
  LeaveCriticalSection(&WaitLock);
  return count;
}

struct Patch {
  const char* dll;
  const char* function;
  void* replacement;
};

bool PatchAll(HMODULE module, std::initializer_list<Patch> patches) {
  for (const Patch& p : patches)
    if (!PatchImport(module, p.dll, p.function, p.replacement)) return false;
  return true;
}

template <class F>
void* Fn(F* function) {
  return reinterpret_cast<void*>(function);
}

bool PatchCommWait(HMODULE module) {
  return PatchAll(module, {{"kernel32.dll", "WaitCommEvent", Fn(StubWaitCommEvent)},
                           {"kernel32.dll", "CancelIoEx", Fn(StubCancelIoEx)},
                           {"kernel32.dll", "CloseHandle", Fn(StubCloseHandle)},
                           {"kernel32.dll", "CreateFileA", Fn(WatchCreateFileA)},
                           {"kernel32.dll", "ClearCommError", Fn(WatchClearCommError)},
                           {"kernel32.dll", "GetOverlappedResult", Fn(WatchGetOverlappedResult)},
                           {"kernel32.dll", "ReadFile", Fn(WatchReadFile)}});
}

LRESULT AnswerRequest(WPARAM arg, LPARAM request) {
  EnterCriticalSection(&Lock);
  LRESULT result = 0;
  switch (request) {
    case 104: result = PlayState; break;
    case 105: result = OutputMs; break;
    case 124: result = ListLength; break;
    case 125: result = ListPos; break;
    case 212: {
      auto it = Titles.find(static_cast<int>(arg));
      result = it == Titles.end() ? 0 : reinterpret_cast<LRESULT>(it->second);
      break;
    }
  }
  LeaveCriticalSection(&Lock);
  if (request == 121 || request == 122) Say("req " + std::to_string(request) + " " + std::to_string(arg));
  else if (request == 124) Say("req 124");
  else if (request == 212 && arg != static_cast<WPARAM>(ListPos)) Say("req 212 " + std::to_string(arg));
  else if (request != 104 && request != 105 && request != 125 && request != 212)
    Say("req " + std::to_string(request) + " " + std::to_string(arg));
  return result;
}

bool LoadPlugin();

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_USER: return AnswerRequest(wParam, lParam);
    case WM_COMMAND: Say("cmd " + std::to_string(wParam) + " " + std::to_string(lParam)); return 0;
    case kAppInit: Say("init " + std::to_string(Plugin->init())); return 0;
    case kAppConfig: Plugin->config(); Say("config done"); return 0;
    case kAppQuit: {
      const double start = Micros();
      Plugin->quit();
      char text[64];
      std::snprintf(text, sizeof text, "quit done %.3f", (Micros() - start) / 1000);
      Say(text);
      return 0;
    }
    case kAppLoad: LoadPlugin(); return 0;
    case kAppUnload:
      Plugin = nullptr;
      Say("unloaded " + std::to_string(FreeLibrary(Module)) + " pending " + std::to_string(WaitsPending()));
      Module = nullptr;
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void RegistryCommand(const std::string& verb, const std::string& value) {
  HKEY key;
  const char* path = "SOFTWARE\\Tarvo Corporation\\Norvelo";
  if (verb == "regset") {
    RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, "CommPort", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
  } else if (verb == "regdel") {
    RegDeleteKeyA(HKEY_CURRENT_USER, path);
  } else {
    char data[256] = {};
    DWORD size = sizeof data - 1, type = 0;
    LONG r = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key);
    if (r == ERROR_SUCCESS) {
      r = RegQueryValueExA(key, "CommPort", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
      RegCloseKey(key);
    }
    Say(r == ERROR_SUCCESS ? "reg " + std::string(data) + " type=" + std::to_string(type) : "reg none");
  }
}

DWORD WINAPI CommandThread(LPVOID) {
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, stdin)) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    std::string rest;
    std::getline(in, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    EnterCriticalSection(&Lock);
    if (verb == "play") PlayState = std::stoi(rest);
    else if (verb == "time") OutputMs = std::stoi(rest);
    else if (verb == "len") ListLength = std::stoi(rest);
    else if (verb == "pos") ListPos = std::stoi(rest);
    else if (verb == "wave") { WaveOk = rest != "fail"; WaveValue = WaveOk ? std::stoul(rest) : 0; }
    else if (verb == "title" || verb == "nulltitle") {
      std::istringstream args(rest);
      int index = 0;
      args >> index;
      std::string text;
      std::getline(args, text);
      if (!text.empty()) text.erase(0, 1);
      if (verb == "nulltitle") Titles.erase(index);
      else { TitleStore.push_back(text); Titles[index] = TitleStore.back().c_str(); }
    } else if (verb == "config") DialogAction = rest;
    LeaveCriticalSection(&Lock);
    if (verb == "init") PostMessageA(Window, kAppInit, 0, 0);
    else if (verb == "config") PostMessageA(Window, kAppConfig, 0, 0);
    else if (verb == "quit") PostMessageA(Window, kAppQuit, 0, 0);
    else if (verb == "load") PostMessageA(Window, kAppLoad, 0, 0);
    else if (verb == "unload") PostMessageA(Window, kAppUnload, 0, 0);
    else if (verb == "count")
      Say("count threads=" + std::to_string(CountThreads()) + " handles=" + std::to_string(CountHandles()));
    else if (verb == "stubwait") {
      StubCommWait = true;
      if (Module != nullptr) PatchCommWait(Module);
    }
    else if (verb == "regset" || verb == "regget" || verb == "regdel") RegistryCommand(verb, rest);
    else if (verb == "timing") TimingCommand(rest);
    else if (verb == "minpass") MinimalPasses(std::stoi(rest));
    else if (verb == "minquit") MinimalQuits(std::stoi(rest));
    else if (verb == "exit") ExitProcess(0);
    if (verb == "sync") Say("sync");
  }
  ExitProcess(0);
}

// Loads the plug-in, catches what the tests must see in its import table and
// hands it the host window; reports the record, or what failed.
bool LoadPlugin() {
  Module = LoadLibraryA(PluginPath.c_str());
  if (Module == nullptr) {
    Say("error load " + std::to_string(GetLastError()));
    return false;
  }
  bool patched = PatchAll(Module, {{"user32.dll", "MessageBoxA", Fn(FakeMessageBoxA)},
                                   {"user32.dll", "MessageBeep", Fn(FakeMessageBeep)},
                                   {"user32.dll", "DialogBoxParamA", Fn(FakeDialogBoxParamA)},
                                   {"user32.dll", "EndDialog", Fn(FakeEndDialog)},
                                   {"user32.dll", "GetDlgItem", Fn(FakeGetDlgItem)},
                                   {"winmm.dll", "waveOutGetVolume", Fn(FakeWaveOutGetVolume)},
                                   {"kernel32.dll", "Sleep", Fn(FakeSleep)},
                                   {"kernel32.dll", "WriteFile", Fn(FakeWriteFile)},
                                   {"kernel32.dll", "TerminateThread", Fn(WatchTerminateThread)}});
  if (StubCommWait) patched = patched && PatchCommWait(Module);
  if (!patched) {
    Say("error patch");
    return false;
  }
  using GetRecord = PluginRecord* (*)();
  auto get = reinterpret_cast<GetRecord>(reinterpret_cast<void*>(GetProcAddress(Module, "winampGetGeneralPurposePlugin")));
  if (get == nullptr) {
    Say("error export");
    return false;
  }
  Plugin = get();
  Plugin->hostWindow = Window;
  Plugin->instance = Module;
  Say("record " + std::to_string(Plugin->version) + " " + Plugin->description);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  InitializeCriticalSection(&Lock);
  InitializeCriticalSection(&TimingLock);
  InitializeCriticalSection(&WaitLock);
  if (argc < 2) {
    Say("usage: norvelo_host PLUGIN.dll");
    return 2;
  }
  PluginPath = argv[1];
  WNDCLASSA wc = {};
  wc.lpfnWndProc = HostProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "NorveloTestHost";
  RegisterClassA(&wc);
  WNDCLASSA combo = {};
  combo.lpfnWndProc = ComboProc;
  combo.hInstance = wc.hInstance;
  combo.lpszClassName = "NorveloTestCombo";
  RegisterClassA(&combo);
  Window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  if (Window == nullptr) {
    Say("error window");
    return 1;
  }
  if (!LoadPlugin()) return 1;
  CreateThread(nullptr, 0, CommandThread, nullptr, 0, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}
