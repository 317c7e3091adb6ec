// The installed font faces, enumerated once, and fonts made with the chosen face.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "base/gdi_win.h"
#include "ui/font_choice.h"
#include "ui/setup_form_layout.h"

namespace isetup::ui {

// Every face family EnumFontFamiliesExW lists for the screen, enumerated on the first call; vertical
// ("@") faces left out. Call from the window thread.
const FontFaces& InstalledFontFaces();

// ChooseFontFace against the installed faces.
std::wstring InstalledFaceFor(std::wstring_view face);

// A font of the face InstalledFaceFor chooses for face; height as LOGFONT has it (negative: the character
// height in pixels, positive: the cell height, 0: the system's default). An empty owner when the system
// refuses.
struct FontRequest {
  std::wstring_view face;
  int height = 0;
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
};
GdiObject<HFONT> CreateSubstitutedFont(const FontRequest& request);

// A control's declared DefaultFont (the plain look's) with its height value scaled from 96 dpi to dpi.
DeclaredFont ScaleDeclaredFont(const DeclaredFont& declared, int dpi);
// The font that `font` declares, its face substituted when missing.
GdiObject<HFONT> CreatePlainFont(const DeclaredFont& font);

}  // namespace isetup::ui
