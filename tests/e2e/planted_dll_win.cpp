// A DLL that someone left beside a program, under the name of a system DLL (version.dll, urlmon.dll,
// wininet.dll, comctl32.dll, msimg32.dll). Loading it appends "loaded" to <its own path>.loaded, so a
// test can tell whether any process ever loaded it. Its exports are stand-ins that fail, so that a
// program linked against the real DLL still binds to it and its DllMain runs.
#include <windows.h>

namespace {

void RecordLoad(HINSTANCE self) {
  wchar_t path[MAX_PATH + 16];
  const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  lstrcatW(path, L".loaded");
  HANDLE record = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (record == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(record, "loaded\r\n", 8, &written, nullptr);
  CloseHandle(record);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) RecordLoad(self);
  return TRUE;
}

// Exported under the system DLLs' names by planted_dll_win.def.
DWORD WINAPI PlantedVersionInfoSize(LPCWSTR, LPDWORD) { return 0; }
BOOL WINAPI PlantedVersionInfo(LPCWSTR, DWORD, DWORD, LPVOID) { return FALSE; }
BOOL WINAPI PlantedQueryValue(LPCVOID, LPCWSTR, LPVOID*, PUINT) { return FALSE; }
HRESULT WINAPI PlantedDownload(void*, LPCWSTR, LPCWSTR, DWORD, void*) { return E_FAIL; }
BOOL WINAPI PlantedConnectedState(LPDWORD flags, DWORD) {
  if (flags) *flags = 0;
  return FALSE;
}
BOOL WINAPI PlantedInitCommonControls(const void*) { return TRUE; }
BOOL WINAPI PlantedBlend(HDC, int, int, int, int, HDC, int, int, int, int, DWORD) { return FALSE; }

}  // extern "C"
