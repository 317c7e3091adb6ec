// A skin picture as a 32-bit DIB section selected into a memory DC: drawn onto windows with BitBlt, or drawn
// into by GDI and read back (the snapshot of a client area).
#pragma once

#include <windows.h>

#include "base/gdi_win.h"
#include "ui/geometry.h"
#include "ui/skin_bitmap.h"

namespace isetup::ui {

// Window thread only, like every GDI object of the window.
class PictureCanvas {
 public:
  // A blank canvas (every pixel 0) of the given size.
  PictureCanvas(int width, int height);
  // A canvas holding the picture's pixels.
  explicit PictureCanvas(const SkinPicture& picture);
  PictureCanvas(const PictureCanvas&) = delete;
  PictureCanvas& operator=(const PictureCanvas&) = delete;

  // False when the size is empty or the system refused the bitmap or the DC; nothing draws then.
  bool valid() const { return bits_ != nullptr && dc_ && bitmap_; }
  Size size() const { return {width_, height_}; }
  HDC dc() const { return dc_.get(); }

  // Copies the whole canvas to (x, y) of target.
  bool DrawTo(HDC target, int x, int y) const;
  // Covers box of target with copies of the canvas from box's top-left corner on, the last ones cut short.
  bool TileTo(HDC target, const Box& box) const;
  // The pixels as they are now, after whatever GDI drew; empty when not valid.
  SkinPicture Read() const;

 private:
  int width_;
  int height_;
  void* bits_ = nullptr;
  MemoryDC dc_;
  GdiObject<HBITMAP> bitmap_;
  SelectGuard select_;  // last: deselects the bitmap before it and the DC go
};

}  // namespace isetup::ui
