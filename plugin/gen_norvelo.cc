// The plug-in's frame: the record the host asks for, its three callbacks, the
// stored port setting with its dialog, and the two worker threads.
#include <windows.h>

#include <cstring>

#include "plugin/display.h"
#include "plugin/plugin_record.h"
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
CommandQueue Queue;
TickerState Ticker;

DWORD WINAPI ReceiverThread(LPVOID) {
  ReceiverState state;
  OverlappedPort port;
  Win32Clock clock;
  Win32Alerts alerts;
  for (;;) ReceiverStep(state, Queue, port, clock, alerts);
}

DWORD WINAPI UpdateThread(LPVOID) {
  UpdateState state;
  OverlappedPort port;
  Win32Host host;
  Win32Clock clock;
  Win32WaveVolume wave;
  Win32Alerts alerts;
  const UpdateContext ctx{host, clock, wave, port, alerts};
  for (;;) {
    Sleep(20);
    UpdatePass(state, Ticker, Queue, ctx);
  }
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

void ClosePort() {
  HANDLE port = SerialHandle.exchange(INVALID_HANDLE_VALUE, std::memory_order_acq_rel);
  if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
}

int PluginInit() {
  LoadPortName();
  OpenCommPort();
  ReceiverHandle = CreateThread(nullptr, 0, ReceiverThread, nullptr, 0, nullptr);
  if (ReceiverHandle != nullptr) UpdateHandle = CreateThread(nullptr, 0, UpdateThread, nullptr, 0, nullptr);
  if (ReceiverHandle != nullptr && UpdateHandle != nullptr) return 0;
  ShowError("Impossibile creare i thread di comunicazione/update!");
  // Without its reader the receiver would only beep at the closed port.
  if (ReceiverHandle != nullptr) {
    TerminateThread(ReceiverHandle, 0);
    CloseHandle(ReceiverHandle);
    ReceiverHandle = nullptr;
  }
  ClosePort();
  return 0;
}

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    HWND combo = GetDlgItem(dialog, IDC_PORT);
    for (const char* name : {"COM1", "COM2", "COM3", "COM4"})
      SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
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

// The threads have no stop request of their own: quit ends them wherever they are.
void PluginQuit() {
  if (ReceiverHandle != nullptr) TerminateThread(ReceiverHandle, 0);
  if (UpdateHandle != nullptr) TerminateThread(UpdateHandle, 0);
}

}  // namespace

HWND HostWindow() { return Record.hostWindow; }

extern "C" __declspec(dllexport) PluginRecord* winampGetGeneralPurposePlugin() { return &Record; }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
  ModuleInstance = instance;
  return TRUE;
}
