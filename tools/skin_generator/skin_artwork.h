// The skin's pictures, drawn from code: the window frame, its mask and the control picture.
#pragma once

#include <cstdint>
#include <vector>

namespace isetup::skingen {

// Top-down pixels, 0xAARRGGBB.
struct Canvas {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  Canvas(int w, int h, std::uint32_t fill);
  std::uint32_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
  std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
  void FillRect(int left, int top, int right, int bottom, std::uint32_t colour);
};

constexpr std::uint32_t Rgb(std::uint32_t rgb) { return 0xFF000000u | rgb; }

inline constexpr int kFrameWidth = 629;
inline constexpr int kFrameHeight = 403;
inline constexpr int kHeaderHeight = 40;
inline constexpr int kControlWidth = 276;
inline constexpr int kControlHeight = 51;
inline constexpr int kButtonWidth = 92;
inline constexpr int kButtonHeight = 25;
inline constexpr int kCornerRadius = 6;

// Blue header band with the product mark at its left, white below inside a thin grey line.
Canvas DrawFramePicture();
// Black where the window is, white where its two rounded top corners are cut away.
Canvas DrawMaskPicture();
// Three button images (normal, mouse over, pressed) in the top row; below them the gauge and label
// backgrounds and the gauge's fill strip.
Canvas DrawControlPicture();

}  // namespace isetup::skingen
