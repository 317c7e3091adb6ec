// Owners for GDI acquire/release pairs: each stores what its release needs and releases exactly once.
#pragma once

#include <windows.h>

#include "base/unique_owner.h"

namespace isetup {

// ReleaseDC for GetDC and GetWindowDC: keeps the window, since ReleaseDC needs it.
struct WindowDcTraits {
  HWND window = nullptr;
  using Value = HDC;
  static HDC Invalid() noexcept { return nullptr; }
  static bool IsValid(HDC dc) noexcept { return dc != nullptr; }
  void Close(HDC dc) const noexcept { ReleaseDC(window, dc); }
};

// GetDC / ReleaseDC.
class WindowDC : public UniqueOwner<WindowDcTraits> {
 public:
  explicit WindowDC(HWND hwnd) : UniqueOwner(GetDC(hwnd), WindowDcTraits{hwnd}) {}
};

// GetWindowDC / ReleaseDC: the DC of the whole window, frame included.
class WindowFrameDC : public UniqueOwner<WindowDcTraits> {
 public:
  explicit WindowFrameDC(HWND hwnd) : UniqueOwner(GetWindowDC(hwnd), WindowDcTraits{hwnd}) {}
};

// CreateCompatibleDC / DeleteDC.
struct MemoryDcTraits {
  using Value = HDC;
  static HDC Invalid() noexcept { return nullptr; }
  static bool IsValid(HDC dc) noexcept { return dc != nullptr; }
  static void Close(HDC dc) noexcept { DeleteDC(dc); }
};

class MemoryDC : public UniqueOwner<MemoryDcTraits> {
 public:
  explicit MemoryDC(HDC compatibleWith) : UniqueOwner(CreateCompatibleDC(compatibleWith)) {}
};

// BeginPaint / EndPaint: keeps the window and the PAINTSTRUCT.
class PaintDC {
 public:
  explicit PaintDC(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &paint_)) {}
  ~PaintDC() {
    if (dc_) EndPaint(hwnd_, &paint_);
  }
  PaintDC(const PaintDC&) = delete;
  PaintDC& operator=(const PaintDC&) = delete;

  HDC get() const { return dc_; }
  const RECT& dirty() const { return paint_.rcPaint; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND hwnd_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// SelectObject, putting the previous object back on destruction: keeps the DC and that object.
// Selecting nothing (a null object) leaves the DC untouched.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ object) : dc_(dc), old_(object && dc ? SelectObject(dc, object) : nullptr) {}
  ~SelectGuard() {
    if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
  }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// Owner of a GDI object made by Create* (pens, brushes, fonts, bitmaps, regions): DeleteObject.
// Never give it stock objects or objects still selected into a DC.
template <typename Handle>
struct GdiObjectTraits {
  using Value = Handle;
  static Handle Invalid() noexcept { return nullptr; }
  static bool IsValid(Handle handle) noexcept { return handle != nullptr; }
  static void Close(Handle handle) noexcept { DeleteObject(handle); }
};

template <typename Handle>
using GdiObject = UniqueOwner<GdiObjectTraits<Handle>>;

// An off-screen copy of a target area to paint into and then copy in one go, so nothing flickers.
// Members are released in reverse order: the bitmap is deselected before it and the DC are deleted.
class PaintBuffer {
 public:
  PaintBuffer(HDC target, int width, int height)
      : width_(width),
        height_(height),
        dc_(target),
        bitmap_(width > 0 && height > 0 ? CreateCompatibleBitmap(target, width, height) : nullptr),
        select_(dc_.get(), bitmap_.get()) {}
  PaintBuffer(const PaintBuffer&) = delete;
  PaintBuffer& operator=(const PaintBuffer&) = delete;

  // False when the DC or the bitmap could not be made; paint straight into the target then.
  bool valid() const { return dc_ && bitmap_; }
  HDC dc() const { return dc_.get(); }
  // Copies the buffer to (x, y) of the target.
  bool CopyTo(HDC target, int x = 0, int y = 0) const {
    return valid() && BitBlt(target, x, y, width_, height_, dc_.get(), 0, 0, SRCCOPY);
  }

 private:
  int width_;
  int height_;
  MemoryDC dc_;
  GdiObject<HBITMAP> bitmap_;
  SelectGuard select_;
};

}  // namespace isetup
