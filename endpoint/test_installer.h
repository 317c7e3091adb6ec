// Test helper: a small stand-in installer with both affiliate tags laid out as the real one holds them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace isetup::endpoint::testing {

inline void AppendLittleEndian(std::vector<std::uint8_t>& bytes, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// One string constant of the installer: code page 1251, character size 1, reference count -1, length,
// the text and its zero byte.
inline void AppendTagString(std::vector<std::uint8_t>& bytes, std::string_view text) {
  AppendLittleEndian(bytes, 1251, 2);
  AppendLittleEndian(bytes, 1, 2);
  AppendLittleEndian(bytes, 0xFFFFFFFFu, 4);
  AppendLittleEndian(bytes, static_cast<std::uint32_t>(text.size()), 4);
  bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.push_back(0);
}

// Filler bytes of 0x80 and more never form a marker; `withAffsid` false leaves the second tag out.
inline std::vector<std::uint8_t> MakeInstaller(std::size_t fillerBefore = 4000, std::size_t fillerAfter = 3000,
                                               bool withAffsid = true) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < fillerBefore; ++i) bytes.push_back(static_cast<std::uint8_t>(0x80 + i % 127));
  AppendTagString(bytes, "affid=00000000");
  bytes.push_back(0);  // fill to a 4-byte boundary
  if (withAffsid) AppendTagString(bytes, "affsid=00000000");
  for (std::size_t i = 0; i < fillerAfter; ++i) bytes.push_back(static_cast<std::uint8_t>(0xFF - i % 113));
  return bytes;
}

}  // namespace isetup::endpoint::testing
