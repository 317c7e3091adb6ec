// The setup window's components declared as data, and the align-with-margins layout that places them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "ui/gauge_model.h"
#include "ui/geometry.h"
#include "ui/text_placement.h"

namespace isetup::ui {

// System colours by meaning; the Win32 side maps them to COLOR_* indexes.
enum class SystemColour { WindowText, Window, ButtonFace, ButtonShadow, ButtonText };

// Either a system colour or a fixed 0xRRGGBB value.
struct Colour {
  bool isSystem = false;
  SystemColour system = SystemColour::WindowText;
  std::uint32_t rgb = 0;  // 0xRRGGBB

  static constexpr Colour Rgb(std::uint32_t rrggbb) { return {false, SystemColour::WindowText, rrggbb}; }
  static constexpr Colour System(SystemColour colour) { return {true, colour, 0}; }
  friend constexpr bool operator==(const Colour&, const Colour&) = default;
};

// height is the font's height value as declared: positive for the cell height, negative for the
// character height (as CreateFontW takes it). Its parity decides the one-pixel text lift.
struct DeclaredFont {
  std::wstring_view face{};
  int height = 0;
  bool bold = false;
  Colour colour{};
};

enum class Align { None, Top, Bottom };

// Design position and size in client pixels.
struct DesignRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

struct Margins {
  int left = 3;
  int top = 3;
  int right = 3;
  int bottom = 3;
};

enum class ComponentRole { CancelButton, ProgressGauge, StatusLine, FrameSkin, CloseTimer };

enum class LabelBorder { None, Frame };

// One component of the window, with the fields the program reads. Fields that do not apply to a component
// keep their defaults.
struct DeclaredComponent {
  ComponentRole role = ComponentRole::CloseTimer;
  Align align = Align::None;
  DesignRect design{};
  Margins margins{};
  std::wstring_view caption{};
  DeclaredFont defaultFont{};  // used when the skin has no entry for the control
  TextAlignment alignment = TextAlignment::Left;
  LabelBorder border = LabelBorder::None;
  GaugeSettings gauge{};
  int timerInterval = 0;            // milliseconds
  bool clientInactiveBlur = false;  // the frame skin blurs the client area while the window is inactive
};

// The components in declaration order.
std::span<const DeclaredComponent> SetupFormComponents();
const DeclaredComponent& SetupFormComponent(ComponentRole role);

// Align-with-margins: each aligned item takes the part of the client box that the items aligned
// before it leave free, shrunk by its margins. Top items stack downwards in order of their design top,
// bottom items upwards in order of their design bottom; ties keep the given order. Items with
// Align::None keep their design rectangle. Returns one box per item, in the given order.
struct AlignItem {
  Align align = Align::None;
  DesignRect design{};
  Margins margins{};
};
std::vector<Box> LayOutAligned(std::span<const AlignItem> items, const Box& client);

// Boxes of the window's three controls for a client area of the given size; the gauge's height is its
// design height (25) without a skin and the skin's fixed height (17) with one.
struct SetupFormBoxes {
  Box cancelButton;
  Box gauge;
  Box label;
};
SetupFormBoxes LayOutSetupForm(Size client, int gaugeHeight);

}  // namespace isetup::ui
