// Our own artwork for the stored skin. Everything is integer arithmetic or IEEE basic operations, so the
// pictures come out the same bit for bit on every build.
#include "tools/skin_generator/skin_artwork.h"

#include <algorithm>
#include <cmath>

namespace isetup::skingen {
namespace {

constexpr std::uint32_t kWhite = Rgb(0xFFFFFF);
constexpr std::uint32_t kBlack = Rgb(0x000000);
constexpr std::uint32_t kEdgeLine = Rgb(0xD9E0E7);
constexpr std::uint32_t kHeaderTopLine = Rgb(0x4A6A91);
constexpr std::uint32_t kHeaderFrom = Rgb(0x6F91BB);
constexpr std::uint32_t kHeaderTo = Rgb(0x3E5D81);
constexpr std::uint32_t kButtonBorder = Rgb(0x45688E);
constexpr std::uint32_t kButtonFrom = Rgb(0x698CB1);
constexpr std::uint32_t kButtonTo = Rgb(0x5379A0);
constexpr std::uint32_t kFillLine = Rgb(0x5F7D9D);

std::uint32_t Channel(std::uint32_t colour, int shift) { return (colour >> shift) & 0xFFu; }

// a + (b − a) × num / den per channel, rounded; opaque.
std::uint32_t Mix(std::uint32_t a, std::uint32_t b, int num, int den) {
  std::uint32_t out = 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const int from = static_cast<int>(Channel(a, shift));
    const int to = static_cast<int>(Channel(b, shift));
    const int value = (from * (den - num) + to * num + den / 2) / den;
    out |= static_cast<std::uint32_t>(value) << shift;
  }
  return out;
}

// Vertical gradient over rows top..bottom−1 of the given columns, from `from` in the first row to `to` in the last.
void Gradient(Canvas& canvas, int left, int top, int right, int bottom, std::uint32_t from, std::uint32_t to) {
  const int steps = std::max(1, bottom - top - 1);
  for (int y = top; y < bottom; ++y) canvas.FillRect(left, y, right, y + 1, Mix(from, to, y - top, steps));
}

double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay;
  double t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy);
  t = std::clamp(t, 0.0, 1.0);
  const double ex = px - (ax + t * dx), ey = py - (ay + t * dy);
  return std::sqrt(ex * ex + ey * ey);
}

// The product mark: a six-armed snowflake with forked arms inside a thin ring, white, smoothed by
// 4 × 4 samples per pixel. Directions use only √3/2, so no trigonometric library call is involved.
bool OnMark(double x, double y, double cx, double cy) {
  const double s = std::sqrt(3.0) / 2.0;
  const double dirs[6][2] = {{0, -1}, {s, -0.5}, {s, 0.5}, {0, 1}, {-s, 0.5}, {-s, -0.5}};
  constexpr double kArm = 11.0, kFork = 6.5, kForkLength = 3.5, kStroke = 1.1;
  for (int i = 0; i < 6; ++i) {
    const double ux = dirs[i][0], uy = dirs[i][1];
    if (SegmentDistance(x, y, cx, cy, cx + ux * kArm, cy + uy * kArm) <= kStroke) return true;
    // Fork branches leave the arm at ±60°, i.e. along the two neighbouring directions.
    const double fx = cx + ux * kFork, fy = cy + uy * kFork;
    for (int side : {1, 5}) {
      const double vx = dirs[(i + side) % 6][0], vy = dirs[(i + side) % 6][1];
      const double bx = fx + (ux + vx) * 0.5 * kForkLength * 2 / std::sqrt(3.0);
      const double by = fy + (uy + vy) * 0.5 * kForkLength * 2 / std::sqrt(3.0);
      if (SegmentDistance(x, y, fx, fy, bx, by) <= kStroke * 0.8) return true;
    }
  }
  const double r = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
  return r >= 14.6 && r <= 16.0;
}

void DrawMark(Canvas& canvas, int cx, int cy) {
  for (int y = cy - 17; y <= cy + 17; ++y) {
    for (int x = cx - 17; x <= cx + 17; ++x) {
      int hits = 0;
      for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
          hits += OnMark(x + (sx + 0.5) / 4.0, y + (sy + 0.5) / 4.0, cx + 0.5, cy + 0.5) ? 1 : 0;
        }
      }
      if (hits > 0) canvas.at(x, y) = Mix(canvas.at(x, y), kWhite, hits, 16);
    }
  }
}

// Three short bars of falling height right of the mark: a plain emblem, no lettering.
void DrawBars(Canvas& canvas, int left, int baseline) {
  const int heights[] = {18, 13, 8};
  for (int i = 0; i < 3; ++i) {
    const int x = left + i * 7;
    for (int y = baseline - heights[i]; y < baseline; ++y) {
      for (int dx = 0; dx < 4; ++dx) canvas.at(x + dx, y) = Mix(canvas.at(x + dx, y), kWhite, 3, 4);
    }
  }
}

// Outside the quarter circle of radius r in the corner square ending at (r, r)? Tested at pixel centres.
bool OutsideCorner(int x, int y, int r) {
  const int dx = 2 * x + 1 - 2 * r, dy = 2 * y + 1 - 2 * r;
  return x < r && y < r && dx * dx + dy * dy > 4 * r * r;
}

std::uint32_t Lighten(std::uint32_t colour, int num, int den) { return Mix(colour, kWhite, num, den); }
std::uint32_t Darken(std::uint32_t colour, int num, int den) { return Mix(colour, kBlack, num, den); }

// One 92 × 25 button image at left; shade moves every colour toward white (positive) or black (negative),
// in sixteenths.
void DrawButton(Canvas& canvas, int left, int shade) {
  const auto tone = [shade](std::uint32_t c) {
    return shade > 0 ? Lighten(c, shade, 16) : shade < 0 ? Darken(c, -shade, 16) : c;
  };
  const int right = left + kButtonWidth, bottom = kButtonHeight;
  canvas.FillRect(left, 0, right, bottom, tone(kButtonBorder));
  Gradient(canvas, left + 1, 1, right - 1, bottom - 1, tone(kButtonFrom), tone(kButtonTo));
  // Softened corners: each corner pixel half way to white, so the button reads as slightly rounded.
  const std::uint32_t corner = Lighten(tone(kButtonBorder), 1, 2);
  for (int x : {left, right - 1}) {
    for (int y : {0, bottom - 1}) canvas.at(x, y) = corner;
  }
}

}  // namespace

Canvas::Canvas(int w, int h, std::uint32_t fill)
    : width(w), height(h), pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill) {}

void Canvas::FillRect(int left, int top, int right, int bottom, std::uint32_t colour) {
  for (int y = std::max(top, 0); y < std::min(bottom, height); ++y) {
    for (int x = std::max(left, 0); x < std::min(right, width); ++x) at(x, y) = colour;
  }
}

Canvas DrawFramePicture() {
  Canvas canvas(kFrameWidth, kFrameHeight, kWhite);
  canvas.FillRect(0, 0, kFrameWidth, 1, kHeaderTopLine);
  Gradient(canvas, 0, 1, kFrameWidth, kHeaderHeight, kHeaderFrom, kHeaderTo);
  DrawMark(canvas, 24, 20);
  DrawBars(canvas, 48, 32);
  canvas.FillRect(0, kHeaderHeight, 1, kFrameHeight, kEdgeLine);
  canvas.FillRect(kFrameWidth - 1, kHeaderHeight, kFrameWidth, kFrameHeight, kEdgeLine);
  canvas.FillRect(0, kFrameHeight - 1, kFrameWidth, kFrameHeight, kEdgeLine);
  return canvas;
}

Canvas DrawMaskPicture() {
  Canvas canvas(kFrameWidth, kFrameHeight, kBlack);
  for (int y = 0; y < kCornerRadius; ++y) {
    for (int x = 0; x < kCornerRadius; ++x) {
      if (!OutsideCorner(x, y, kCornerRadius)) continue;
      canvas.at(x, y) = kWhite;
      canvas.at(kFrameWidth - 1 - x, y) = kWhite;
    }
  }
  return canvas;
}

Canvas DrawControlPicture() {
  Canvas canvas(kControlWidth, kControlHeight, kWhite);
  DrawButton(canvas, 0, 0);                 // normal
  DrawButton(canvas, kButtonWidth, 3);      // mouse over: lighter
  DrawButton(canvas, 2 * kButtonWidth, -3); // pressed: darker
  // Gauge background 191,34 – 221,51: white with a grey bottom line. The label background
  // 207,28 – 273,47 is plain white and needs no drawing.
  canvas.FillRect(191, 50, 221, 51, kEdgeLine);
  // Fill strip 15,31 – 156,51: white with a blue bottom row, so the fill shows as a growing blue line.
  canvas.FillRect(15, 50, 156, 51, kFillLine);
  return canvas;
}

}  // namespace isetup::skingen
