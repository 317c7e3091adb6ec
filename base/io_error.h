// The one exception type of the program: an input/output failure carrying the system's error code.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace isetup {

class IoError : public std::runtime_error {
 public:
  IoError(std::uint32_t code, const std::string& what) : std::runtime_error(what), code_(code) {}
  std::uint32_t code() const noexcept { return code_; }

 private:
  std::uint32_t code_;
};

}  // namespace isetup
