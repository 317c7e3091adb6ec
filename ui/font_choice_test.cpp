// Font face choice: the wanted face when installed, else the first installed substitute, else the fallback.
#include "ui/font_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace isetup::ui {
namespace {

FontFaces Installed(std::vector<std::wstring> faces) { return FontFaces(faces); }

TEST(ChooseFontFace, PrefersTheFaceThenItsSubstitutesInOrder) {
  struct Case {
    const wchar_t* wanted;
    std::vector<std::wstring> installed;
    const wchar_t* chosen;
  } const cases[] = {
      {L"Tahoma", {L"Arial", L"Tahoma", L"Verdana"}, L"Tahoma"},
      {L"Tahoma", {L"DejaVu Sans", L"Verdana"}, L"Verdana"},
      // What this machine's Wine prefix offers: DejaVu only.
      {L"Tahoma", {L"DejaVu Sans", L"DejaVu Sans Mono", L"DejaVu Serif"}, L"DejaVu Sans"},
      {L"Tahoma", {L"Liberation Sans", L"Liberation Serif"}, L"Liberation Sans"},
      {L"Arial", {L"DejaVu Sans", L"Arimo", L"Liberation Sans"}, L"Liberation Sans"},
      {L"Arial", {L"DejaVu Sans", L"Arimo"}, L"Arimo"},
      {L"Arial", {L"DejaVu Sans", L"Verdana"}, L"DejaVu Sans"},
      // Names compare without regard to case, and the installed spelling does not leak into the answer.
      {L"arial", {L"ARIAL"}, L"arial"},
      {L"Tahoma", {L"dejavu sans"}, L"DejaVu Sans"},
      // Nothing usable installed: the logical face the system always maps.
      {L"Tahoma", {L"Wingdings", L"Symbol"}, L"MS Shell Dlg 2"},
      {L"Arial", {}, L"MS Shell Dlg 2"},
      // Another face, or none at all, tries the two skin faces first.
      {L"Segoe UI", {L"Arial", L"DejaVu Sans"}, L"Arial"},
      {L"", {L"Tahoma"}, L"Tahoma"},
      {L"", {L""}, L"MS Shell Dlg 2"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseFontFace(c.wanted, Installed(c.installed)), c.chosen) << c.wanted;
  }
}

TEST(FontSubstitutes, EveryListEndsWithTheFallbackAndNeverNamesItsOwnFace) {
  for (const wchar_t* face : {L"Tahoma", L"TAHOMA", L"Arial", L"Courier New", L""}) {
    const auto list = FontSubstitutes(face);
    ASSERT_FALSE(list.empty()) << face;
    EXPECT_EQ(list.back(), kFallbackFontFace) << face;
    for (const std::wstring_view substitute : list) {
      EXPECT_FALSE(FontFaces(std::vector<std::wstring>{std::wstring(face)}).Contains(substitute)) << face;
    }
  }
}

TEST(FontFaces, IgnoresEmptyNamesAndDuplicates) {
  FontFaces faces;
  EXPECT_TRUE(faces.empty());
  faces.Add(L"");
  EXPECT_TRUE(faces.empty());
  EXPECT_FALSE(faces.Contains(L""));
  faces.Add(L"DejaVu Sans");
  faces.Add(L"dejavu SANS");
  EXPECT_TRUE(faces.Contains(L"DEJAVU sans"));
  EXPECT_FALSE(faces.Contains(L"DejaVu"));
  EXPECT_FALSE(faces.Contains(L"DejaVu Sans Mono"));
}

}  // namespace
}  // namespace isetup::ui
