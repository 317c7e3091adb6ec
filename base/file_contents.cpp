// Reading whole files through the standard library, which takes wide paths on Windows too.
#include "base/file_contents.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace isetup {
namespace {

std::string WithReason(std::string what) {
  if (errno != 0) what += std::string(": ") + std::strerror(errno);
  return what;
}

}  // namespace

FileContents ReadFileContents(const std::filesystem::path& path, std::uint64_t maxSize) {
  namespace fs = std::filesystem;
  FileContents contents;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status)) {
    contents.problem = error && error != std::errc::no_such_file_or_directory ? error.message() : "no such file";
    return contents;
  }
  if (fs::is_directory(status)) {
    contents.problem = "it is a folder, not a file";
    return contents;
  }
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) {
    contents.problem = "cannot take its size: " + error.message();
    return contents;
  }
  if (size > maxSize) {
    contents.problem = "it is " + std::to_string(size) + " bytes, more than the " + std::to_string(maxSize) +
                       " that can be read here";
    return contents;
  }
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    contents.problem = WithReason("cannot open it");
    return contents;
  }
  contents.bytes.resize(static_cast<std::size_t>(size));
  errno = 0;
  file.read(reinterpret_cast<char*>(contents.bytes.data()), static_cast<std::streamsize>(size));
  if (static_cast<std::uintmax_t>(file.gcount()) != size) {
    contents.bytes.clear();
    contents.problem = WithReason("cannot read it in full");
  }
  return contents;
}

}  // namespace isetup
