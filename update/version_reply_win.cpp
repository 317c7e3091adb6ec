// Reading the version reply file on Windows: opened for reading, other readers allowed, read whole.
#include <windows.h>

#include "base/file_handle_win.h"
#include "base/win32_error_win.h"
#include "update/version_reply.h"

namespace isetup {

VersionReply ReadVersionReply(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) ThrowLastError("cannot open the version reply file");
  std::string bytes;
  char chunk[4096];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr)) {
      ThrowLastError("cannot read the version reply file");
    }
    if (read == 0) break;
    bytes.append(chunk, read);
  }
  if (!CloseHandle(file.release())) ThrowLastError("cannot close the version reply file");
  return ParseVersionReply(bytes);
}

}  // namespace isetup
