// For tests: a whole file as bytes or as text, read through ReadFileContents; empty when it cannot be read
// (a test that expects content then fails on the comparison, naming the file).
#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "base/file_contents.h"

namespace isetup::testing {

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  return ReadFileContents(path, std::numeric_limits<std::uint64_t>::max()).bytes;
}

inline std::string ReadText(const std::filesystem::path& path) {
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  return {bytes.begin(), bytes.end()};
}

}  // namespace isetup::testing
