// The plug-in's frame: the record the host asks for, its three callbacks, the
// stored port setting with its dialog, and the two worker threads.
#include <windows.h>

#include <cstring>

#include "plugin/display.h"
#include "plugin/plugin_record.h"
#include "plugin/ports.h"
#include "plugin/receiver.h"
#include "plugin/resource.h"
#include "plugin/win32_platform.h"

namespace {

int PluginInit();
void PluginConfig();
void PluginQuit();

}  // namespace

namespace {

const char kSettingsKey[] = "SOFTWARE\\Tarvo Corporation\\Norvelo";
const char kPortValue[] = "CommPort";

PluginRecord Record = {0x10, "Norvelo control plugin (x86)", PluginInit, PluginConfig, PluginQuit,
                       nullptr, nullptr};

HINSTANCE ModuleInstance = nullptr;
HANDLE ReceiverHandle = nullptr;
HANDLE UpdateHandle = nullptr;
// Set by quit; both workers wait on it beside their I/O. Each thread gets it
// as its argument, so that nothing of theirs reads a global quit has reset.
HANDLE StopEvent = nullptr;
CommandQueue Queue;
TickerState Ticker;

// A worker asked to stop ends within one of its waits, well inside this.
constexpr DWORD kStopWaitMs = 1000;
// A thread terminated after the bound is gone within this.
constexpr DWORD kTerminateWaitMs = 250;

bool StopRequested(HANDLE stop) { return WaitForSingleObject(stop, 0) == WAIT_OBJECT_0; }

DWORD WINAPI ReceiverThread(LPVOID stop) {
  ReceiverState state;
  OverlappedPort port(stop);
  Win32Clock clock;
  Win32Alerts alerts(stop);
  while (!StopRequested(stop)) ReceiverStep(state, Queue, port, clock, alerts);
  return 0;
}

DWORD WINAPI UpdateThread(LPVOID stop) {
  UpdateState state;
  OverlappedPort port(stop);
  Win32Host host;
  Win32Clock clock;
  Win32WaveVolume wave;
  Win32Alerts alerts(stop);
  const UpdateContext ctx{host, clock, wave, port, alerts};
  for (;;) {
    Sleep(20);
    if (StopRequested(stop)) return 0;
    UpdatePass(state, Ticker, Queue, ctx);
  }
}

// Waits up to ms for every thread in threads to end. The update thread sends
// the host window requests and waits for their answers, and the window is
// this thread's: sent messages are served meanwhile (posted ones stay queued
// for the host), so the wait cannot hold up the thread it waits for.
void AwaitThreads(const HANDLE* threads, int count, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    HANDLE running[2];
    DWORD left = 0;
    for (int i = 0; i < count; ++i)
      if (WaitForSingleObject(threads[i], 0) == WAIT_TIMEOUT) running[left++] = threads[i];
    const DWORD waited = GetTickCount() - start;
    if (left == 0 || waited >= ms) return;
    MsgWaitForMultipleObjectsEx(left, running, ms - waited < 50 ? ms - waited : 50, QS_SENDMESSAGE,
                                MWMO_INPUTAVAILABLE);
  }
}

// Asks both workers to stop and cuts their pending I/O short; a thread still
// running after the bound is terminated, the only case left where that is
// done. Then the threads' handles and the stop event are closed.
void StopWorkers() {
  HANDLE threads[2];
  int count = 0;
  for (HANDLE thread : {ReceiverHandle, UpdateHandle})
    if (thread != nullptr) threads[count++] = thread;
  if (StopEvent != nullptr) SetEvent(StopEvent);
  SerialHandle.CancelPending();
  AwaitThreads(threads, count, kStopWaitMs);
  for (int i = 0; i < count; ++i) {
    if (WaitForSingleObject(threads[i], 0) != WAIT_TIMEOUT) continue;
    TerminateThread(threads[i], 0);
    WaitForSingleObject(threads[i], kTerminateWaitMs);
  }
  for (int i = 0; i < count; ++i) CloseHandle(threads[i]);
  ReceiverHandle = UpdateHandle = nullptr;
  if (StopEvent != nullptr) CloseHandle(StopEvent);
  StopEvent = nullptr;
}

// Takes the stored name only when it is a whole REG_SZ that fits; anything
// else keeps the name the plug-in already has.
void LoadPortName() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  char value[sizeof PortName + 1] = {};
  DWORD type = 0;
  DWORD size = sizeof PortName;
  if (RegQueryValueExA(key, kPortValue, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
          ERROR_SUCCESS &&
      type == REG_SZ && std::memchr(value, '\0', sizeof PortName) != nullptr)
    std::memcpy(PortName, value, sizeof PortName);
  RegCloseKey(key);
}

void StorePortName() {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, kPortValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(PortName),
                 static_cast<DWORD>(lstrlenA(PortName) + 1));
  RegCloseKey(key);
}

int PluginInit() {
  LoadPortName();
  OpenCommPort();
  // Without a way to stop them, threads are not started at all.
  StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (StopEvent != nullptr) ReceiverHandle = CreateThread(nullptr, 0, ReceiverThread, StopEvent, 0, nullptr);
  if (ReceiverHandle != nullptr) UpdateHandle = CreateThread(nullptr, 0, UpdateThread, StopEvent, 0, nullptr);
  if (ReceiverHandle != nullptr && UpdateHandle != nullptr) return 0;
  ShowError("Impossibile creare i thread di comunicazione/update!");
  // Without its reader the receiver would only beep at the closed port.
  StopWorkers();
  SerialHandle.Close(kPortReleaseWaitMs);
  return 0;
}

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    HWND combo = GetDlgItem(dialog, IDC_PORT);
    for (const std::string& name : PortChoices(MachinePorts(), PortName))
      SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    SendMessageA(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(PortName));
    return 0;
  }
  if (message != WM_COMMAND) return 0;
  switch (LOWORD(wParam)) {
    case IDOK: {
      HWND combo = GetDlgItem(dialog, IDC_PORT);
      const LRESULT item = SendMessageA(combo, CB_GETCURSEL, 0, 0);
      if (item != CB_ERR) {
        const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(item), 0);
        if (length >= 0 && length < static_cast<LRESULT>(sizeof PortName))
          SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(PortName));
      }
      EndDialog(dialog, 1);
      break;
    }
    case IDCANCEL:
      EndDialog(dialog, 0);
      break;
  }
  return 0;
}

void PluginConfig() {
  if (DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_CONFIG), Record.hostWindow, ConfigDialogProc, 0) <= 0)
    return;
  StorePortName();
  OpenCommPort();
}

// The host unloads the module right after this returns: nothing of the
// plug-in may run on, no I/O may be left to complete into memory of a thread
// that is gone, and no lock of the runtime may be left held by a killed one.
void PluginQuit() {
  StopWorkers();
  SerialHandle.Close(0);
}

}  // namespace

HWND HostWindow() { return Record.hostWindow; }

extern "C" __declspec(dllexport) PluginRecord* winampGetGeneralPurposePlugin() { return &Record; }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  ModuleInstance = instance;
  // The wave-out library comes with the plug-in when the host has not loaded
  // it, and would go with it at every unload; under Wine each unload of it
  // leaves a dozen handles behind in the host. It stays for the process's
  // life instead, as it does in any host that plays sound.
  if (reason == DLL_PROCESS_ATTACH) {
    HMODULE wave;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "winmm.dll", &wave);
  }
  return TRUE;
}
