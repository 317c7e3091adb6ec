// The embedded installer: raw-data resource 2 of the program's own image, and writing it out.
#include "payload/embedded_installer.h"

#include <windows.h>

#include <algorithm>

#include "base/held_file_win.h"
#include "payload/affiliate_tags.h"

namespace isetup {

std::span<const std::uint8_t> EmbeddedInstallerBytes() {
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(2), RT_RCDATA);
  if (found == nullptr) return {};
  const DWORD size = SizeofResource(self, found);
  HGLOBAL loaded = LoadResource(self, found);
  if (loaded == nullptr) return {};
  const auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
  if (bytes == nullptr) return {};
  return {bytes, size};
}

std::wstring ExtractEmbeddedAffiliateQuery() { return ExtractAffiliateQuery(EmbeddedInstallerBytes()); }

FreshFile PrepareEmbeddedInstaller(const std::wstring& path, const std::function<void()>& beforeSealing) {
  const std::span<const std::uint8_t> bytes = EmbeddedInstallerBytes();
  FileReplacement replacement(path);
  HANDLE file = replacement.handle();
  if (file == INVALID_HANDLE_VALUE) return {};
  // WriteFile may complete a large write only in part; go on from where it stopped.
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return {};
    done += written;
  }
  if (beforeSealing) beforeSealing();
  return replacement.SealWritten(bytes);
}

bool WriteEmbeddedInstaller(const std::wstring& path, HeldFile* held) {
  HeldFile committed = PrepareEmbeddedInstaller(path).MoveOverAndHold(path);
  const bool written = committed.valid();
  if (held != nullptr) *held = std::move(committed);
  return written;
}

}  // namespace isetup
