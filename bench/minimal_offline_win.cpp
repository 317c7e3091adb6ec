// The least a Win32 program does for the offline road: write raw-data resource 2 into the temp folder
// and open it with the shell. The yardstick for InternetSetup's offline run under Wine.
#include <windows.h>
#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const HMODULE self = GetModuleHandleW(nullptr);
  const HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(2), RT_RCDATA);
  const HGLOBAL loaded = found ? LoadResource(self, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) return 1;
  wchar_t temp[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH, temp) == 0) return 1;
  const std::wstring path = std::wstring(temp) + L"TalvimorasterSetup.exe";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, bytes, SizeofResource(self, found), &written, nullptr);
  CloseHandle(file);
  ShellExecuteW(nullptr, L"open", path.c_str(), L"", L"", SW_SHOWNORMAL);
  return 0;
}
