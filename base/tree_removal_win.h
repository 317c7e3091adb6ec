// Removing a folder tree that someone else may have planted, without ever following a link in it.
#pragma once

#include <string>

namespace isetup {

// Removes whatever stands at `path`: a file, a link (the link itself, not what it points to), or a
// folder with everything below it, each link inside removed as a link. True when nothing stands at
// `path` afterwards. Entries that cannot be removed safely (held open by another process, or a link
// that the system does not report as one, so that deleting it would hit its target) are left, and
// then the folders holding them stay too.
bool RemoveTreeWithoutFollowingLinks(const std::wstring& path) noexcept;

// RemoveTreeWithoutFollowingLinks, and when something is left and `path` is a real folder (not a
// link), that folder is moved aside under a fresh name beside it in one step. True when nothing
// stands at `path` afterwards.
bool ClearNameWithoutFollowingLinks(const std::wstring& path) noexcept;

}  // namespace isetup
