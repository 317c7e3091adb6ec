// Reading the version reply file off Windows, for the native build and its tests.
#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "base/io_error.h"
#include "update/version_reply.h"

namespace isetup {

VersionReply ReadVersionReply(const std::wstring& path) {
  errno = 0;
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  if (!file) throw IoError(static_cast<std::uint32_t>(errno), "cannot open the version reply file");
  std::string bytes;
  std::array<char, 4096> chunk;
  // istream::read turns a failing read (a folder, an I/O error) into badbit instead of an escaping failure.
  while (file.read(chunk.data(), chunk.size()) || file.gcount() > 0) {
    bytes.append(chunk.data(), static_cast<std::size_t>(file.gcount()));
    if (file.eof()) break;
  }
  if (file.bad() || !file.eof()) {
    throw IoError(static_cast<std::uint32_t>(errno), "cannot read the version reply file");
  }
  file.clear();
  file.close();
  if (file.fail()) throw IoError(static_cast<std::uint32_t>(errno), "cannot close the version reply file");
  return ParseVersionReply(bytes);
}

}  // namespace isetup
