// Owner for POSIX file descriptors (open, socket, pipe) with close.
#pragma once

#include <unistd.h>

#include "base/unique_owner.h"

namespace isetup {

struct FdTraits {
  using Value = int;
  static int Invalid() noexcept { return -1; }
  static bool IsValid(int fd) noexcept { return fd >= 0; }
  static void Close(int fd) noexcept { ::close(fd); }
};

using UniqueFd = UniqueOwner<FdTraits>;

}  // namespace isetup
