// The atomic replacement on POSIX: open(O_EXCL), write, fchmod, fsync, close, rename(2).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/atomic_file.h"
#include "base/utf8_path.h"

namespace isetup {
namespace {

std::string Reason(int error) { return std::strerror(error); }

// Removes the temporary file and gives the message; errno of the failure is taken before the clean-up.
std::string Abandon(int fd, const std::filesystem::path& temporary, const std::string& what) {
  const int error = errno;
  if (fd >= 0) close(fd);
  unlink(temporary.c_str());
  return what + ": " + Reason(error);
}

}  // namespace

std::optional<std::string> ReplaceFileAtomically(const std::filesystem::path& requested,
                                                 std::span<const std::uint8_t> bytes,
                                                 const std::filesystem::path& permissionsFrom) {
  namespace fs = std::filesystem;
  std::filesystem::path target = requested;
  std::error_code ignored;
  if (fs::is_symlink(fs::symlink_status(requested, ignored))) {
    const fs::path resolved = fs::canonical(requested, ignored);
    if (!resolved.empty()) target = resolved;
  }

  struct stat existing {};
  bool haveMode = false;
  if (stat(target.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) return Utf8FromPath(target) + " is a folder, not a file";
    haveMode = true;
  } else if (!permissionsFrom.empty() && stat(permissionsFrom.c_str(), &existing) == 0) {
    haveMode = true;
  }

  fs::path temporary;
  int fd = -1;
  // The process id keeps two tools apart; the attempt number steps past leftovers of either.
  const auto seed = static_cast<std::uint32_t>(getpid()) * 65599u;
  for (std::uint32_t attempt = 0; fd < 0; ++attempt) {
    temporary = TemporarySibling(target, seed + attempt);
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && (errno != EEXIST || attempt == 1000)) {
      const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
      return "cannot create a temporary file in " + Utf8FromPath(folder) + ": " + Reason(errno);
    }
  }
  const std::string name = Utf8FromPath(temporary);

  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return Abandon(fd, temporary, "cannot write " + name);
    }
    done += static_cast<std::size_t>(written);
  }
  if (haveMode) {
    if (fchmod(fd, existing.st_mode & 07777) != 0) return Abandon(fd, temporary, "cannot set the permissions of " + name);
    // Keeping the owner needs privileges that a distributor may not have: tried, and not an error when
    // refused, since the permissions are what the replacement promises.
    if (existing.st_uid != geteuid() || existing.st_gid != getegid()) {
      [[maybe_unused]] const int owned = fchown(fd, existing.st_uid, existing.st_gid);
    }
  }
  if (fsync(fd) != 0) return Abandon(fd, temporary, "cannot flush " + name + " to the disk");
  const int closing = fd;
  fd = -1;
  if (close(closing) != 0) return Abandon(fd, temporary, "cannot close " + name);
  if (rename(temporary.c_str(), target.c_str()) != 0) {
    return Abandon(fd, temporary, "cannot rename " + name + " over " + Utf8FromPath(target));
  }
  // The rename itself reaches the disk with the folder's entry.
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  const int directory = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    fsync(directory);
    close(directory);
  }
  return std::nullopt;
}

}  // namespace isetup
