// Font substitution by preference lists: similar metrics first, then the widely shipped free faces.
#include "ui/font_choice.h"

#include <algorithm>
#include <array>

namespace isetup::ui {
namespace {

std::wstring Folded(std::wstring_view face) {
  std::wstring out(face);
  for (wchar_t& c : out) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return out;
}

bool SameFace(std::wstring_view a, std::wstring_view b) { return Folded(a) == Folded(b); }

// Tahoma: Verdana is its wide sibling; DejaVu Sans and Liberation Sans are what Linux-hosted systems carry.
constexpr std::array<std::wstring_view, 5> kTahomaSubstitutes = {L"Verdana", L"DejaVu Sans", L"Liberation Sans",
                                                                 L"Noto Sans", kFallbackFontFace};
// Arial: Liberation Sans and Arimo share its metrics.
constexpr std::array<std::wstring_view, 5> kArialSubstitutes = {L"Liberation Sans", L"Arimo", L"DejaVu Sans",
                                                                L"Noto Sans", kFallbackFontFace};
constexpr std::array<std::wstring_view, 6> kOtherSubstitutes = {L"Tahoma",     L"Arial",     L"DejaVu Sans",
                                                                L"Liberation Sans", L"Noto Sans", kFallbackFontFace};

}  // namespace

FontFaces::FontFaces(std::span<const std::wstring> faces) {
  for (const std::wstring& face : faces) Add(face);
}

void FontFaces::Add(std::wstring_view face) {
  if (face.empty()) return;
  std::wstring folded = Folded(face);
  const auto at = std::lower_bound(faces_.begin(), faces_.end(), folded);
  if (at == faces_.end() || *at != folded) faces_.insert(at, std::move(folded));
}

bool FontFaces::Contains(std::wstring_view face) const {
  return !face.empty() && std::binary_search(faces_.begin(), faces_.end(), Folded(face));
}

std::span<const std::wstring_view> FontSubstitutes(std::wstring_view face) {
  if (SameFace(face, L"Tahoma")) return kTahomaSubstitutes;
  if (SameFace(face, L"Arial")) return kArialSubstitutes;
  return kOtherSubstitutes;
}

std::wstring ChooseFontFace(std::wstring_view face, const FontFaces& installed) {
  if (installed.Contains(face)) return std::wstring(face);
  for (const std::wstring_view substitute : FontSubstitutes(face)) {
    if (installed.Contains(substitute)) return std::wstring(substitute);
  }
  return std::wstring(kFallbackFontFace);
}

}  // namespace isetup::ui
