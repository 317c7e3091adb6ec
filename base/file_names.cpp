// Name arithmetic for the safe file writes; no file is touched here.
#include "base/file_names.h"

#include "base/lower_hex.h"

namespace isetup {
namespace {

std::size_t LastSeparator(std::wstring_view path) { return path.find_last_of(L"\\/"); }

}  // namespace

std::wstring_view FolderOf(std::wstring_view path) {
  const std::size_t at = LastSeparator(path);
  return at == std::wstring_view::npos ? std::wstring_view{} : path.substr(0, at);
}

std::wstring_view LeafOf(std::wstring_view path) {
  const std::size_t at = LastSeparator(path);
  return at == std::wstring_view::npos ? path : path.substr(at + 1);
}

std::wstring FreshSiblingName(std::wstring_view path, std::uint64_t nonce) {
  return std::wstring(path) + L".~" + WideHexDigits(nonce, 16, HexCase::kLower) + L".tmp";
}

std::wstring DllRedirectionFolder(std::wstring_view programPath) { return std::wstring(programPath) + L".Local"; }

}  // namespace isetup
