// The installed faces as GDI enumerates them, and fonts made with the chosen face really being that face.
#include "ui/font_choice_win.h"

#include <gtest/gtest.h>

#include <string>

namespace isetup::ui {
namespace {

struct Made {
  std::wstring face;
  TEXTMETRICW metrics{};
};

Made Inspect(HFONT font) {
  Made made;
  MemoryDC dc(nullptr);
  SelectGuard select(dc.get(), font);
  wchar_t face[LF_FACESIZE] = {};
  GetTextFaceW(dc.get(), LF_FACESIZE, face);
  made.face = face;
  GetTextMetricsW(dc.get(), &made.metrics);
  return made;
}

TEST(InstalledFontFaces, ListsFacesOnceAndTheStockFontsFace) {
  const FontFaces& faces = InstalledFontFaces();
  EXPECT_FALSE(faces.empty());
  EXPECT_EQ(&faces, &InstalledFontFaces());  // enumerated once
  // The face GDI maps the default GUI font to is installed by definition.
  const Made stock = Inspect(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
  ASSERT_FALSE(stock.face.empty());
  EXPECT_TRUE(faces.Contains(stock.face)) << std::string(stock.face.begin(), stock.face.end());
}

TEST(CreateSubstitutedFont, GetsTheChosenFaceAtTheAskedHeight) {
  struct Case {
    const wchar_t* face;
    int characterHeight;
    bool bold;
  } const cases[] = {{L"Tahoma", 13, true}, {L"Tahoma", 13, false}, {L"Arial", 14, true}, {L"Tahoma", 20, false},
                     {L"No Such Face Anywhere", 11, false}};
  for (const Case& c : cases) {
    const std::wstring chosen = InstalledFaceFor(c.face);
    const GdiObject<HFONT> font = CreateSubstitutedFont({.face = c.face, .height = -c.characterHeight, .bold = c.bold});
    ASSERT_TRUE(font);
    const Made made = Inspect(font.get());
    if (InstalledFontFaces().Contains(c.face)) {
      EXPECT_EQ(chosen, c.face);
    }
    if (chosen != kFallbackFontFace) {
      // An installed face: GDI gives exactly that one, not a guess of its font mapper.
      EXPECT_TRUE(InstalledFontFaces().Contains(chosen));
      EXPECT_EQ(made.face, chosen);
    }
    // The character height as asked, give or take the rounding of ascent and descent.
    EXPECT_NEAR(made.metrics.tmHeight - made.metrics.tmInternalLeading, c.characterHeight, 1);
    EXPECT_EQ(made.metrics.tmWeight >= FW_BOLD, c.bold);
  }
}

}  // namespace
}  // namespace isetup::ui
