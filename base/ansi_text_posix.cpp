// Off Windows there is no ANSI code page: bytes map to the code points of the same value (Latin-1).
#include "base/ansi_text.h"

namespace isetup {

std::wstring DecodeAnsi(std::string_view bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  for (unsigned char c : bytes) text.push_back(static_cast<wchar_t>(c));
  return text;
}

}  // namespace isetup
