// ANSI code page decoding through the system's own conversion.
#include "base/ansi_text.h"

#include <windows.h>

#include <limits>

namespace isetup {

std::wstring DecodeAnsi(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return {};
  const int inLength = static_cast<int>(bytes.size());
  const int outLength = MultiByteToWideChar(CP_ACP, 0, bytes.data(), inLength, nullptr, 0);
  if (outLength <= 0) return {};
  std::wstring text(static_cast<std::size_t>(outLength), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), inLength, text.data(), outLength);
  return text;
}

}  // namespace isetup
