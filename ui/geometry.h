// Plain geometry of the window's controls in client pixels, shared by the layout and the drawing.
#pragma once

namespace isetup::ui {

// A rectangle with exclusive right and bottom edges, as RECT has them.
struct Box {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  constexpr int width() const { return right - left; }
  constexpr int height() const { return bottom - top; }
  friend constexpr bool operator==(const Box&, const Box&) = default;
};

struct Point {
  int x = 0;
  int y = 0;
  friend constexpr bool operator==(const Point&, const Point&) = default;
};

struct Size {
  int width = 0;
  int height = 0;
  friend constexpr bool operator==(const Size&, const Size&) = default;
};

}  // namespace isetup::ui
