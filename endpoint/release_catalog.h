// The releases the endpoint offers: the current one and the one it replaced, each with what every
// answer needs of it worked out once (checksum, hash, where the tags can be stamped).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "payload/sha256.h"

namespace isetup::endpoint {

inline constexpr std::string_view kDownloadPrefix = "/download/";

// What the endpoint offers: the current installer and its version text.
struct Release {
  std::string versionText;              // "a.b.c.d", each part 0..255 in decimal, packing to nonzero
  std::vector<std::uint8_t> installer;  // the untagged installer as the vendor delivers it
  std::string fileName;                 // last part of the download path; empty: "TalvimorasterSetup-<ver>.exe"
};

// The file name a release is served under (its own, or the default made from the version).
std::string ReleaseFileName(const Release& release);

// Why a version text cannot be announced, std::nullopt when it can: the reply's rule
// (CheckReplyVersionText), which installer-tags follows too.
[[nodiscard]] std::optional<std::string> CheckVersionText(std::string_view text);

// Why a text cannot serve as a download file name (A-Z a-z 0-9 . - _, not beginning with a dot).
[[nodiscard]] std::optional<std::string> CheckFileName(std::string_view name);

// Why a release cannot be served (bad version text, unsafe file name, empty or oversized installer),
// std::nullopt when it can.
[[nodiscard]] std::optional<std::string> CheckRelease(const Release& release);

// A release as it is served.
struct ServedRelease {
  std::string versionText;
  std::string downloadPath;
  std::shared_ptr<const std::vector<std::uint8_t>> installer;  // untagged, shared by every download
  std::int32_t checksum = 0;  // blind to the tag values, so it holds for every stamped copy too
  std::optional<Sha256Digest> sha256;  // likewise; std::nullopt only when hashing failed
  // Where each tag's 8 value bytes lie, when the tag is well formed and can be stamped.
  std::optional<std::size_t> affidValue;
  std::optional<std::size_t> affsidValue;
};

struct Catalog {
  std::shared_ptr<const ServedRelease> current;
  std::shared_ptr<const ServedRelease> previous;  // the one before, downloadable by its own path; may be null

  // The release served under `path`, null when none is.
  const ServedRelease* ByDownloadPath(std::string_view path) const;
};

// Holds the catalog and swaps it whole; a request takes one snapshot and answers from it alone.
// Thread affinity: any thread.
class ReleaseCatalog {
 public:
  // Throws std::invalid_argument when CheckRelease refuses `release`.
  explicit ReleaseCatalog(Release release) { Set(std::move(release)); }

  // Makes `release` current; the release it replaces stays in the catalog as the previous one unless
  // it had the same download path (then the previous one stays). Throws as the constructor does.
  void Set(Release release);
  std::shared_ptr<const Catalog> Snapshot() const { return catalog_.load(); }

 private:
  std::atomic<std::shared_ptr<const Catalog>> catalog_;
  std::mutex setMutex_;  // orders Set calls against each other
};

}  // namespace isetup::endpoint
