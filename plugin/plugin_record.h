// The record the host gets from winampGetGeneralPurposePlugin, laid out as the
// host reads it. The host fills in the last two fields before calling init.
#pragma once

#include <windows.h>

struct PluginRecord {
  int version;
  const char* description;
  int (*init)();
  void (*config)();
  void (*quit)();
  HWND hostWindow;
  HINSTANCE instance;
};
