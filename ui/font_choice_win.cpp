// Enumerates the screen's font families once, so every control's font can pick an installed face.
#include "ui/font_choice_win.h"

#include "ui/dpi_scale.h"

namespace isetup::ui {
namespace {

int CALLBACK CollectFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM context) {
  if (font->lfFaceName[0] != L'@') reinterpret_cast<FontFaces*>(context)->Add(font->lfFaceName);
  return 1;  // go on
}

FontFaces EnumerateFaces() {
  FontFaces faces;
  const WindowDC screen(nullptr);
  if (!screen) return faces;
  LOGFONTW all{};
  all.lfCharSet = DEFAULT_CHARSET;  // every family once per character set; FontFaces drops the repeats
  EnumFontFamiliesExW(screen.get(), &all, CollectFace, reinterpret_cast<LPARAM>(&faces), 0);
  return faces;
}

}  // namespace

const FontFaces& InstalledFontFaces() {
  static const FontFaces faces = EnumerateFaces();
  return faces;
}

std::wstring InstalledFaceFor(std::wstring_view face) { return ChooseFontFace(face, InstalledFontFaces()); }

GdiObject<HFONT> CreateSubstitutedFont(const FontRequest& request) {
  LOGFONTW font{};
  font.lfHeight = request.height;
  font.lfWeight = request.bold ? FW_BOLD : FW_NORMAL;
  font.lfItalic = request.italic ? TRUE : FALSE;
  font.lfUnderline = request.underline ? TRUE : FALSE;
  font.lfStrikeOut = request.strikeOut ? TRUE : FALSE;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
  const std::wstring face = InstalledFaceFor(request.face);
  face.copy(font.lfFaceName, LF_FACESIZE - 1);
  return GdiObject<HFONT>(CreateFontIndirectW(&font));
}

DeclaredFont ScaleDeclaredFont(const DeclaredFont& declared, int dpi) {
  DeclaredFont scaled = declared;
  scaled.height = ScaleForDpi(declared.height, dpi);
  return scaled;
}

GdiObject<HFONT> CreatePlainFont(const DeclaredFont& font) {
  return CreateSubstitutedFont({.face = font.face, .height = font.height, .bold = font.bold});
}

}  // namespace isetup::ui
