// The outcome of reading a part of the stored skin: the value, or the reason it was refused.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace isetup::ui {

template <typename T>
class [[nodiscard]] SkinResult {
 public:
  static SkinResult Ok(T value) {
    SkinResult result;
    result.value_.emplace(std::move(value));
    return result;
  }
  static SkinResult Fail(std::string reason) {
    SkinResult result;
    result.error_ = std::move(reason);
    return result;
  }

  bool ok() const noexcept { return value_.has_value(); }
  explicit operator bool() const noexcept { return ok(); }
  // Only when ok().
  const T& value() const& { return *value_; }
  T& value() & { return *value_; }
  T&& value() && { return std::move(*value_); }
  // Empty when ok().
  const std::string& error() const noexcept { return error_; }

 private:
  SkinResult() = default;
  std::optional<T> value_;
  std::string error_;
};

}  // namespace isetup::ui
