// The part of the atomic replacement that both platforms share: naming the temporary file.
#include "base/atomic_file.h"

namespace isetup {

std::filesystem::path TemporarySibling(const std::filesystem::path& target, std::uint32_t unique) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string suffix = ".00000000.tmp";
  for (int i = 8; i >= 1; --i, unique >>= 4) suffix[static_cast<std::size_t>(i)] = kDigits[unique & 0xF];
  std::filesystem::path name = ".";
  name += target.filename();
  name += suffix;
  return target.parent_path() / name;
}

}  // namespace isetup
