// The installer carried in the program as raw-data resource 2, and writing it out.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace isetup {

class FreshFile;
class HeldFile;

// The resource's bytes in the program's own image (read-only, valid for the program's life);
// empty when the resource is missing. Looked up afresh on every call.
std::span<const std::uint8_t> EmbeddedInstallerBytes();

// The affiliate query fragment of the embedded installer (see affiliate_tags.h).
std::wstring ExtractEmbeddedAffiliateQuery();

// Writes the whole resource to `path`, replacing any file there; a write that the system completes
// only in part is continued. The last copy at `path` is removed first (a link as a link), and the bytes
// go to a fresh file beside `path` that is then moved over it (FileReplacement::CommitWritten), so a
// link planted at `path` is never written through. Returns whether the installer now stands at `path`;
// on failure nothing else stands there. With `held`, the file is handed over still held
// (base/held_file_win.h), so that no other process can change it before it is launched; it is invalid
// after a failure.
bool WriteEmbeddedInstaller(const std::wstring& path, HeldFile* held = nullptr);

// The first half of that, which can be done ahead: the whole resource written to a fresh file beside
// `path` and sealed (FileReplacement::SealWritten), kept under its fresh name where nobody can change
// it. Moving it over `path` (FreshFile::MoveOverAndHold) completes the write; dropping it removes it.
// Invalid on failure. `beforeSealing`, when given, runs between the write and the sealing (which then
// waits for it; the writing handle keeps everyone else out meanwhile).
FreshFile PrepareEmbeddedInstaller(const std::wstring& path, const std::function<void()>& beforeSealing = {});

}  // namespace isetup
