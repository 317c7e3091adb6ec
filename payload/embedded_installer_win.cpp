// The embedded installer: raw-data resource 2 of the program's own image, and writing it out.
#include "payload/embedded_installer.h"

#include <windows.h>

#include <algorithm>
#include <optional>

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

namespace {

// Writes the whole resource through the replacement's writer; a write that the system completes only
// in part goes on from where it stopped. The bytes written, or nothing when the write failed.
std::optional<std::span<const std::uint8_t>> WriteResource(const FileReplacement& replacement) {
  const std::span<const std::uint8_t> bytes = EmbeddedInstallerBytes();
  HANDLE file = replacement.handle();
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return std::nullopt;
    done += written;
  }
  return bytes;
}

}  // namespace

FreshFile PrepareEmbeddedInstaller(const std::wstring& path, const std::function<void()>& beforeSealing) {
  FileReplacement replacement(path);
  const auto bytes = WriteResource(replacement);
  if (!bytes) return {};
  if (beforeSealing) beforeSealing();
  return replacement.SealWritten(*bytes);
}

bool WriteEmbeddedInstaller(const std::wstring& path, HeldFile* held) {
  // The last copy goes first: its storage is freed before the new one is written, which costs less
  // than freeing it when the move replaces it afterwards. Only the entry itself goes (a link as a
  // link); whatever stays is replaced by the move.
  (void)RemoveEntryItself(path);
  FileReplacement replacement(path);
  const auto bytes = WriteResource(replacement);
  HeldFile committed = bytes ? replacement.CommitWritten(*bytes) : HeldFile();
  const bool written = committed.valid();
  if (held != nullptr) *held = std::move(committed);
  return written;
}

}  // namespace isetup
