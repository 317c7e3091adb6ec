// One owner for every handle-like resource: a traits type says which values mean "none" and how one
// is released; the owner is move-only and releases what it holds exactly once.
#pragma once

#include <utility>

namespace isetup {

// Traits provide `using Value`, `static Value Invalid() noexcept` (what an empty or moved-from owner
// holds), `static bool IsValid(Value) noexcept` and `Close(Value) noexcept`. Close may be a member: the
// traits object then keeps whatever else the release needs (the window a GetDC came from), and moves
// with the value.
template <typename Traits>
class UniqueOwner {
 public:
  using Value = typename Traits::Value;

  UniqueOwner() noexcept = default;
  explicit UniqueOwner(Value value, Traits traits = Traits()) noexcept : traits_(std::move(traits)), value_(value) {}
  ~UniqueOwner() { reset(); }
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;
  UniqueOwner(UniqueOwner&& other) noexcept : traits_(std::move(other.traits_)), value_(other.release()) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    if (this != &other) {
      reset();
      traits_ = std::move(other.traits_);
      value_ = other.release();
    }
    return *this;
  }

  Value get() const noexcept { return value_; }
  bool valid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  // Releases the value held unless it is `value` itself, then holds `value`.
  void reset(Value value = Traits::Invalid()) noexcept {
    const Value old = std::exchange(value_, value);
    if (Traits::IsValid(old) && old != value) traits_.Close(old);
  }
  // Gives the value up without releasing it.
  [[nodiscard]] Value release() noexcept { return std::exchange(value_, Traits::Invalid()); }

 private:
  [[no_unique_address]] Traits traits_;
  Value value_ = Traits::Invalid();
};

}  // namespace isetup
