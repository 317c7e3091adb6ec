// Skin pictures as DIB sections: made from pixels, drawn, tiled and read back.
#include "ui/picture_canvas_win.h"

#include <cstring>

namespace isetup::ui {
namespace {

HBITMAP CreateTopDownDib(HDC dc, int width, int height, void** bits) {
  *bits = nullptr;
  if (width <= 0 || height <= 0 || width > kMaxSkinPictureSide || height > kMaxSkinPictureSide) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down, the row order of SkinPicture
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
  if (bitmap == nullptr) *bits = nullptr;
  return bitmap;
}

std::size_t PixelCount(int width, int height) {
  return width > 0 && height > 0 ? static_cast<std::size_t>(width) * static_cast<std::size_t>(height) : 0;
}

}  // namespace

PictureCanvas::PictureCanvas(int width, int height)
    : width_(width),
      height_(height),
      dc_(nullptr),
      bitmap_(CreateTopDownDib(dc_.get(), width, height, &bits_)),
      select_(dc_.get(), bitmap_.get()) {
  if (bits_) std::memset(bits_, 0, PixelCount(width_, height_) * sizeof(std::uint32_t));
}

PictureCanvas::PictureCanvas(const SkinPicture& picture) : PictureCanvas(picture.width, picture.height) {
  if (bits_ && picture.pixels.size() == PixelCount(width_, height_)) {
    std::memcpy(bits_, picture.pixels.data(), picture.pixels.size() * sizeof(std::uint32_t));
  }
}

bool PictureCanvas::DrawTo(HDC target, int x, int y) const {
  return valid() && target && BitBlt(target, x, y, width_, height_, dc_.get(), 0, 0, SRCCOPY);
}

bool PictureCanvas::TileTo(HDC target, const Box& box) const {
  if (!valid() || !target) return false;
  bool drawn = true;
  for (int y = box.top; y < box.bottom; y += height_) {
    for (int x = box.left; x < box.right; x += width_) {
      const int w = box.right - x < width_ ? box.right - x : width_;
      const int h = box.bottom - y < height_ ? box.bottom - y : height_;
      drawn = BitBlt(target, x, y, w, h, dc_.get(), 0, 0, SRCCOPY) && drawn;
    }
  }
  return drawn;
}

SkinPicture PictureCanvas::Read() const {
  SkinPicture picture;
  if (!valid()) return picture;
  GdiFlush();  // GDI may still be drawing into the section
  picture.width = width_;
  picture.height = height_;
  picture.pixels.resize(PixelCount(width_, height_));
  std::memcpy(picture.pixels.data(), bits_, picture.pixels.size() * sizeof(std::uint32_t));
  return picture;
}

}  // namespace isetup::ui
