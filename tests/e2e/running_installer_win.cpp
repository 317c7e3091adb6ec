// An earlier installer that is still running: copied to the installer's name in the temp folder and
// started before the program, it keeps its own image mapped (so the file cannot be replaced) until
// "<own path>.stop" appears or two minutes have passed. "<own path>.running" says it has started.
#include <windows.h>

#include <string>

#include "base/file_handle_win.h"

int wmain() {
  wchar_t own[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  const std::wstring path(own, length);
  if (!isetup::FileHandle(CreateFileW((path + L".running").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr))
           .valid()) {
    return 1;
  }
  const std::wstring stop = path + L".stop";
  for (int tick = 0; tick < 1200; ++tick) {
    if (GetFileAttributesW(stop.c_str()) != INVALID_FILE_ATTRIBUTES) return 0;
    Sleep(100);
  }
  return 0;
}
