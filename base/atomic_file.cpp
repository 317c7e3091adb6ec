// The part of the atomic replacement that both platforms share: naming the temporary file.
#include "base/atomic_file.h"

#include "base/lower_hex.h"

namespace isetup {

std::filesystem::path TemporarySibling(const std::filesystem::path& target, std::uint32_t unique) {
  std::filesystem::path name = ".";
  name += target.filename();
  name += ".";
  name += HexDigits(unique, 8, HexCase::kLower);
  name += ".tmp";
  return target.parent_path() / name;
}

}  // namespace isetup
