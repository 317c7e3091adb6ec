// Reading a whole file into memory, with a message that says why when it cannot be done.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace isetup {

struct FileContents {
  std::vector<std::uint8_t> bytes;
  std::string problem;  // why the file could not be read (no file, a folder, too large, a read error)
};

// Reads the file at `path` whole; refuses files larger than `maxSize` bytes before reading them.
FileContents ReadFileContents(const std::filesystem::path& path, std::uint64_t maxSize);

}  // namespace isetup
