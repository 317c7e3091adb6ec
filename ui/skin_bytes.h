// Bounds-checked little-endian reading of the stored skin's bytes: a read past the end fails, never reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "base/little_endian.h"

namespace isetup::ui {

inline std::int32_t LoadI32(std::span<const std::uint8_t> data, std::size_t at) {
  return static_cast<std::int32_t>(LoadU32(data, at));
}

// Walks a byte range front to back; every read says whether the bytes were there.
class ByteCursor {
 public:
  explicit ByteCursor(std::span<const std::uint8_t> data) : data_(data) {}

  std::size_t position() const { return position_; }
  std::size_t remaining() const { return data_.size() - position_; }
  std::span<const std::uint8_t> rest() const { return data_.subspan(position_); }

  std::optional<std::uint8_t> U8() {
    if (remaining() < 1) return std::nullopt;
    return data_[position_++];
  }
  std::optional<std::int32_t> I32() {
    if (remaining() < 4) return std::nullopt;
    const std::int32_t value = LoadI32(data_, position_);
    position_ += 4;
    return value;
  }
  // The next count bytes, or nothing (and no move) when fewer are left.
  std::optional<std::span<const std::uint8_t>> Take(std::size_t count) {
    if (remaining() < count) return std::nullopt;
    const auto taken = data_.subspan(position_, count);
    position_ += count;
    return taken;
  }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t position_ = 0;
};

}  // namespace isetup::ui
