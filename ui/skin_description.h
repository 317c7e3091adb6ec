// The skin description: INI-style text (sections, key=value, CR LF or LF) read into the typed entries the
// window draws from: the frame geometry, the caption object and the controls "button", "gauge", "label".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/geometry.h"
#include "ui/skin_geometry.h"
#include "ui/skin_result.h"
#include "ui/text_placement.h"

namespace isetup::ui {

// Sections and keys as they appear in the text; names are matched without regard to ASCII case.
class SkinIni {
 public:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;  // in text order, keys and values trimmed
  };

  // Refuses lines that are neither blank, a ";" comment, "[section]" nor "key=value" inside a section.
  static SkinResult<SkinIni> Parse(std::string_view text);

  const std::vector<Section>& sections() const { return sections_; }
  // The first section of that name; null when absent.
  const Section* FindSection(std::string_view name) const;
  // The first value of key in the first section of that name; null when either is absent.
  const std::string* Find(std::string_view section, std::string_view key) const;

 private:
  std::vector<Section> sections_;
};

// A colour as stored: a decimal number reading 0x00BBGGRR, the layout of a COLORREF.
struct SkinColour {
  std::uint32_t bgr = 0;
  static constexpr SkinColour FromRgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return {static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) | (static_cast<std::uint32_t>(b) << 16)};
  }
  constexpr std::uint8_t red() const { return static_cast<std::uint8_t>(bgr); }
  constexpr std::uint8_t green() const { return static_cast<std::uint8_t>(bgr >> 8); }
  constexpr std::uint8_t blue() const { return static_cast<std::uint8_t>(bgr >> 16); }
  friend constexpr bool operator==(const SkinColour&, const SkinColour&) = default;
};

// Font style bits, written in the text as comma-separated words (fsbold, fsitalic, fsunderline,
// fsstrikeout); an empty value is regular.
enum SkinFontStyle : unsigned {
  kFontRegular = 0,
  kFontBold = 1,
  kFontItalic = 2,
  kFontUnderline = 4,
  kFontStrikeOut = 8,
};

struct SkinFont {
  std::string name;  // ANSI code page as stored; empty when the skin names none
  int height = 0;    // character height in pixels, as a negative LOGFONT height would give it
  unsigned style = kFontRegular;
  friend bool operator==(const SkinFont&, const SkinFont&) = default;
};

// FORMINFO: the frame picture's geometry.
struct SkinFormInfo {
  Box clientRect;   // client part of the frame picture
  Box captionRect;  // where a drag moves the window
  CornerPoints corners;
  Box buttonsRect;  // caption buttons; empty: none
  int bgPictureIndex = -1;
  std::string stretchType;
  int stretchEffect = 0;
  std::string inactiveEffect;
  bool autoRenderingInactiveImage = false;
};

// The caption object: a part of the frame picture and the caption text band inside it.
struct CaptionSkinData {
  Box skinRect;  // in the frame picture
  Box textRect;  // relative to skinRect
  SkinFont font;
  TextAlignment alignment = TextAlignment::Center;
  SkinColour fontColor;        // while the window is inactive
  SkinColour activeFontColor;  // while it is active
};

struct ButtonSkinData {
  int pictureIndex = 0;  // into the control pictures
  Box skinRect;          // normal image
  Box activeSkinRect;    // mouse over
  Box downSkinRect;      // pressed
  CornerPoints corners;  // relative to each image
  Box clientRect;        // relative to the image: where the caption goes
  SkinFont font;
  SkinColour fontColor, activeFontColor, downFontColor, disabledFontColor;
};

struct GaugeSkinData {
  int pictureIndex = 0;
  Box skinRect;          // background
  CornerPoints corners;  // relative to skinRect
  Box progressArea;      // fill area, relative to skinRect; widens with the gauge
  Box progressRect;      // fill picture in the control picture
  bool progressStretch = false;  // false: the fill picture is repeated along the filled length
  SkinFont font;
  SkinColour fontColor;
  Box animationRect;  // progress animation strip; empty: none
  int animationFrames = 0;
  int animationInterval = 0;  // milliseconds per frame
};

struct LabelSkinData {
  int pictureIndex = 0;
  Box skinRect;
  CornerPoints corners;
  bool leftStretch = false, topStretch = false, rightStretch = false, bottomStretch = false;
  SkinFont font;
  SkinColour fontColor;
};

struct SkinDescription {
  int version = 0;
  SkinFormInfo form;
  // Each is absent when SKINOBJECTS / SKINCONTROLS list no entry of that name and kind.
  std::optional<CaptionSkinData> caption;
  std::optional<ButtonSkinData> button;
  std::optional<GaugeSkinData> gauge;
  std::optional<LabelSkinData> label;
};

// Parses and checks the description. Refused: a text lacking VERSION, PICTURES, FORMINFO, SKINOBJECTS
// or SKINCONTROLS; a listed object or control without its section; a value that does not parse. A key
// that is absent takes its default (0, an empty rectangle, an unset point), except the rectangles an
// entry cannot be drawn without.
SkinResult<SkinDescription> ParseSkinDescription(std::string_view text);

// Value syntax, exposed for the generator's and the tests' use. Numbers are decimal, optionally
// negative, in the range of a 32-bit int, with blanks allowed around each.
std::optional<int> ParseSkinInt(std::string_view text);
std::optional<Point> ParseSkinPoint(std::string_view text);  // "x,y"
std::optional<Box> ParseSkinRect(std::string_view text);     // "left,top,right,bottom"
std::optional<SkinColour> ParseSkinColour(std::string_view text);  // 0 .. 0xFFFFFF
std::optional<unsigned> ParseSkinFontStyle(std::string_view text);

}  // namespace isetup::ui
