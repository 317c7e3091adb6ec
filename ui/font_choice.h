// Choosing an installed font face for a wanted one: the face itself when the system has it, else the first
// installed of its substitutes. Wine prefixes and stripped systems often lack Tahoma and Arial.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace isetup::ui {

// The last resort: a logical face that the system always maps to a real one.
inline constexpr std::wstring_view kFallbackFontFace = L"MS Shell Dlg 2";

// Installed face names, compared without regard to ASCII case as GDI compares them.
class FontFaces {
 public:
  FontFaces() = default;
  explicit FontFaces(std::span<const std::wstring> faces);

  void Add(std::wstring_view face);
  bool Contains(std::wstring_view face) const;
  bool empty() const { return faces_.empty(); }

 private:
  std::vector<std::wstring> faces_;  // ASCII-lowercased, sorted, no duplicates
};

// The faces tried, in order, when face itself is not installed; always ends with kFallbackFontFace.
std::span<const std::wstring_view> FontSubstitutes(std::wstring_view face);

// face when installed; else the first installed of FontSubstitutes(face); else kFallbackFontFace.
// An empty face counts as one that is never installed.
std::wstring ChooseFontFace(std::wstring_view face, const FontFaces& installed);

}  // namespace isetup::ui
