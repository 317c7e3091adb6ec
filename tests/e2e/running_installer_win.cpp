// An earlier installer that is still running: copied to the installer's name in the temp folder and
// started before the program, it keeps its own image mapped (so the file cannot be replaced) until
// "<own path>.stop" appears or two minutes have passed. "<own path>.running" says it has started.
#include <windows.h>

#include <string>

int wmain() {
  wchar_t own[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  const std::wstring path(own, length);
  HANDLE running = CreateFileW((path + L".running").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (running == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(running);
  const std::wstring stop = path + L".stop";
  for (int tick = 0; tick < 1200; ++tick) {
    if (GetFileAttributesW(stop.c_str()) != INVALID_FILE_ATTRIBUTES) return 0;
    Sleep(100);
  }
  return 0;
}
