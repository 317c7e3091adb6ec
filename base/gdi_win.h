// Owners for GDI acquire/release pairs: each stores what its release needs and releases exactly once.
#pragma once

#include <windows.h>

#include <utility>

namespace isetup {

// GetDC / ReleaseDC: keeps the window, since ReleaseDC needs it.
class WindowDC {
 public:
  explicit WindowDC(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  ~WindowDC() {
    if (dc_) ReleaseDC(hwnd_, dc_);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;

  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// GetWindowDC / ReleaseDC: the DC of the whole window, frame included; keeps the window for ReleaseDC.
class WindowFrameDC {
 public:
  explicit WindowFrameDC(HWND hwnd) : hwnd_(hwnd), dc_(GetWindowDC(hwnd)) {}
  ~WindowFrameDC() {
    if (dc_) ReleaseDC(hwnd_, dc_);
  }
  WindowFrameDC(const WindowFrameDC&) = delete;
  WindowFrameDC& operator=(const WindowFrameDC&) = delete;

  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// CreateCompatibleDC / DeleteDC.
class MemoryDC {
 public:
  explicit MemoryDC(HDC compatibleWith) : dc_(CreateCompatibleDC(compatibleWith)) {}
  ~MemoryDC() {
    if (dc_) DeleteDC(dc_);
  }
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  MemoryDC(MemoryDC&& other) noexcept : dc_(std::exchange(other.dc_, nullptr)) {}
  MemoryDC& operator=(MemoryDC&& other) noexcept {
    if (this != &other) {
      if (dc_) DeleteDC(dc_);
      dc_ = std::exchange(other.dc_, nullptr);
    }
    return *this;
  }

  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HDC dc_;
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
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(Handle handle) : handle_(handle) {}
  ~GdiObject() { reset(); }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  GdiObject(GdiObject&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  GdiObject& operator=(GdiObject&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset(Handle handle = nullptr) {
    if (handle_ && handle_ != handle) DeleteObject(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

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
