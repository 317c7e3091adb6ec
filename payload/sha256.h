// SHA-256 in pieces: CNG (bcrypt.dll) in the program, OpenSSL in the native build.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace isetup {

using Sha256Digest = std::array<std::uint8_t, 32>;

// One digest fed in any number of pieces. Any failure of the system's hashing makes Finish give
// std::nullopt; nothing throws. Not for use from two threads at once.
class Sha256Hasher {
 public:
  Sha256Hasher();
  ~Sha256Hasher();
  Sha256Hasher(const Sha256Hasher&) = delete;
  Sha256Hasher& operator=(const Sha256Hasher&) = delete;

  void Update(std::span<const std::uint8_t> bytes);
  // The digest of everything fed so far; the hasher takes no more pieces afterwards.
  [[nodiscard]] std::optional<Sha256Digest> Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;  // null once something failed or Finish has run
};

}  // namespace isetup
