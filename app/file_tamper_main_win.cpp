// Test helper: another process that keeps trying to change a file.
//
//   file_tamper.exe TARGET ATTEMPTS
//
// Tries ATTEMPTS times in a row to open TARGET for writing, to open it for deleting, to rename it away,
// to put another file in its place and to delete it; whatever got through is undone where it can be.
// Prints what succeeded how often; the exit code has one bit per kind of change that ever succeeded
// (1 write, 2 delete-open, 4 rename, 8 replace, 16 delete), so 0 means the file was never touched.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "base/file_handle_win.h"

namespace {

bool Opens(const std::wstring& path, DWORD access) {
  const isetup::FileHandle file(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
  return file.valid();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 100;
  const std::wstring target = argv[1];
  const int attempts = _wtoi(argv[2]);
  const std::wstring away = target + L".tamper-away";
  const std::wstring decoy = target + L".tamper-decoy";
  int write = 0, deleteOpen = 0, rename = 0, replace = 0, removed = 0;
  for (int i = 0; i < attempts; ++i) {
    if (Opens(target, GENERIC_WRITE)) ++write;
    if (Opens(target, DELETE)) ++deleteOpen;
    if (MoveFileExW(target.c_str(), away.c_str(), 0)) {
      ++rename;
      MoveFileExW(away.c_str(), target.c_str(), 0);
    }
    isetup::FileHandle(CreateFileW(decoy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (MoveFileExW(decoy.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) ++replace;
    DeleteFileW(decoy.c_str());
    if (DeleteFileW(target.c_str())) ++removed;
  }
  std::wprintf(L"attempts %d write %d delete-open %d rename %d replace %d delete %d\n", attempts, write, deleteOpen,
               rename, replace, removed);
  return (write ? 1 : 0) | (deleteOpen ? 2 : 0) | (rename ? 4 : 0) | (replace ? 8 : 0) | (removed ? 16 : 0);
}
