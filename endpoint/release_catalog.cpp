// The releases the endpoint offers: checking a release, working out what its answers need, and
// keeping the one it replaced downloadable.
#include "endpoint/release_catalog.h"

#include <algorithm>
#include <limits>
#include <span>
#include <stdexcept>

#include "payload/tag_fields.h"
#include "payload/blanked_sha256.h"
#include "payload/checksum.h"
#include "update/version_reply_format.h"

namespace isetup::endpoint {
namespace {

bool IsFileNameChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-' ||
         c == '_';
}

// The name as it may be shown in a message: anything but printable ASCII as "?".
std::string Printable(std::string_view name) {
  std::string shown;
  for (const char c : name) shown += (c >= 0x20 && c < 0x7F) ? c : '?';
  return shown;
}

std::shared_ptr<const ServedRelease> Serve(Release release) {
  auto served = std::make_shared<ServedRelease>();
  served->downloadPath = std::string(kDownloadPrefix) + ReleaseFileName(release);
  served->versionText = std::move(release.versionText);
  served->installer = std::make_shared<const std::vector<std::uint8_t>>(std::move(release.installer));
  served->checksum = ByteSumChecksum(*served->installer);
  served->sha256 = BlankedSha256(*served->installer);
  served->affidValue = FindStampPlace(*served->installer, kAffidMarker).valueOffset;
  served->affsidValue = FindStampPlace(*served->installer, kAffsidMarker).valueOffset;
  return served;
}

// The catalog after `current` replaces what `old` offered: the previous release is the newest of
// `old`'s under another download path.
std::shared_ptr<const Catalog> Replace(const std::shared_ptr<const Catalog>& old,
                                       std::shared_ptr<const ServedRelease> current) {
  auto catalog = std::make_shared<Catalog>();
  catalog->current = std::move(current);
  if (!old) return catalog;
  for (const auto& candidate : {old->current, old->previous}) {
    if (candidate && candidate->downloadPath != catalog->current->downloadPath) {
      catalog->previous = candidate;
      break;
    }
  }
  return catalog;
}

}  // namespace

std::string ReleaseFileName(const Release& release) {
  return release.fileName.empty() ? "TalvimorasterSetup-" + release.versionText + ".exe" : release.fileName;
}

std::optional<std::string> CheckVersionText(std::string_view text) { return CheckReplyVersionText(text); }

std::optional<std::string> CheckFileName(std::string_view name) {
  if (name.empty() || name.size() > 255 || name.front() == '.' || !std::all_of(name.begin(), name.end(), IsFileNameChar)) {
    return "the file name \"" + Printable(name) + "\" may hold only A-Z a-z 0-9 . - _ and must not begin with a dot";
  }
  return std::nullopt;
}

std::optional<std::string> CheckRelease(const Release& release) {
  if (auto problem = CheckVersionText(release.versionText)) return problem;
  if (auto problem = CheckFileName(ReleaseFileName(release))) return problem;
  if (release.installer.empty()) return "the installer is empty";
  if (release.installer.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return "the installer is larger than 2147483647 bytes, which the setup cannot take as a size";
  }
  return std::nullopt;
}

const ServedRelease* Catalog::ByDownloadPath(std::string_view path) const {
  if (current->downloadPath == path) return current.get();
  if (previous && previous->downloadPath == path) return previous.get();
  return nullptr;
}

void ReleaseCatalog::Set(Release release) {
  if (auto problem = CheckRelease(release)) throw std::invalid_argument(*problem);
  auto served = Serve(std::move(release));
  std::lock_guard lock(setMutex_);
  catalog_.store(Replace(catalog_.load(), std::move(served)));
}

}  // namespace isetup::endpoint
