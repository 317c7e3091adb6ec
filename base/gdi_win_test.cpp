// The GDI owners release what they acquired, exactly once, and the select guard restores the old object.
#include "base/gdi_win.h"

#include <gtest/gtest.h>

namespace isetup {
namespace {

// A plain top-level window of a system class, for the DC pairs that need one. Only a visible window
// keeps an update region, which the paint pair needs.
class TestWindow {
 public:
  explicit TestWindow(bool visible)
      : hwnd_(CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP | (visible ? WS_VISIBLE : 0), 0, 0, 64, 32,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr)) {}
  ~TestWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
  }
  HWND get() const { return hwnd_; }

 private:
  HWND hwnd_;
};

TEST(SelectGuard, RestoresThePreviousObjectOfItsDC) {
  MemoryDC dc(nullptr);
  ASSERT_TRUE(dc);
  const HGDIOBJ original = GetCurrentObject(dc.get(), OBJ_BITMAP);
  GdiObject<HBITMAP> first(CreateCompatibleBitmap(dc.get(), 4, 4));
  GdiObject<HBITMAP> second(CreateCompatibleBitmap(dc.get(), 4, 4));
  {
    SelectGuard outer(dc.get(), first.get());
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), first.get());
    {
      SelectGuard inner(dc.get(), second.get());
      EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), second.get());
    }
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), first.get());
  }
  EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), original);
  {
    SelectGuard nothing(dc.get(), nullptr);
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), original);
  }
  EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), original);
}

TEST(GdiObject, DeletesOnceAndMovesOwnership) {
  HBRUSH raw = CreateSolidBrush(RGB(1, 2, 3));
  ASSERT_EQ(GetObjectType(raw), static_cast<DWORD>(OBJ_BRUSH));
  {
    GdiObject<HBRUSH> owner(raw);
    GdiObject<HBRUSH> moved(std::move(owner));
    EXPECT_FALSE(owner);
    EXPECT_EQ(moved.get(), raw);
    GdiObject<HBRUSH> assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.get(), raw);
    EXPECT_EQ(GetObjectType(raw), static_cast<DWORD>(OBJ_BRUSH));
  }
  EXPECT_EQ(GetObjectType(raw), 0u);

  HPEN pen1 = CreatePen(PS_SOLID, 1, 0);
  HPEN pen2 = CreatePen(PS_SOLID, 2, 0);
  GdiObject<HPEN> pen(pen1);
  pen.reset(pen2);
  EXPECT_EQ(GetObjectType(pen1), 0u);
  EXPECT_EQ(GetObjectType(pen2), static_cast<DWORD>(OBJ_PEN));
  pen.reset();
  EXPECT_EQ(GetObjectType(pen2), 0u);
}

TEST(MemoryDC, DeletesItsDCAndMovesOwnership) {
  HDC raw = nullptr;
  {
    MemoryDC dc(nullptr);
    raw = dc.get();
    ASSERT_EQ(GetObjectType(raw), static_cast<DWORD>(OBJ_MEMDC));
    MemoryDC moved(std::move(dc));
    EXPECT_FALSE(dc);
    EXPECT_EQ(moved.get(), raw);
  }
  EXPECT_EQ(GetObjectType(raw), 0u);
}

TEST(WindowDC, ReleasesTheDCOfItsWindow) {
  TestWindow window(false);
  ASSERT_NE(window.get(), nullptr);
  HDC raw = nullptr;
  {
    WindowDC dc(window.get());
    ASSERT_TRUE(dc);
    raw = dc.get();
    EXPECT_EQ(WindowFromDC(raw), window.get());
  }
  // A released common DC no longer belongs to the window.
  EXPECT_NE(WindowFromDC(raw), window.get());
}

TEST(WindowFrameDC, ReleasesTheWholeWindowDCOfItsWindow) {
  TestWindow window(false);
  ASSERT_NE(window.get(), nullptr);
  HDC raw = nullptr;
  {
    WindowFrameDC dc(window.get());
    ASSERT_TRUE(dc);
    raw = dc.get();
    EXPECT_EQ(WindowFromDC(raw), window.get());
  }
  EXPECT_NE(WindowFromDC(raw), window.get());
}

TEST(PaintDC, ValidatesAndEndsThePaint) {
  TestWindow window(true);
  ASSERT_NE(window.get(), nullptr);
  UpdateWindow(window.get());
  InvalidateRect(window.get(), nullptr, FALSE);
  ASSERT_TRUE(GetUpdateRect(window.get(), nullptr, FALSE));
  HDC raw = nullptr;
  {
    PaintDC paint(window.get());
    ASSERT_TRUE(paint);
    raw = paint.get();
    EXPECT_EQ(WindowFromDC(raw), window.get());
    EXPECT_FALSE(IsRectEmpty(&paint.dirty()));
  }
  EXPECT_FALSE(GetUpdateRect(window.get(), nullptr, FALSE));
  EXPECT_NE(WindowFromDC(raw), window.get());
}

TEST(PaintBuffer, CopiesWhatWasPaintedAndFreesItsBitmap) {
  MemoryDC target(nullptr);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), 8, -8, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  GdiObject<HBITMAP> surface(CreateDIBSection(target.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  ASSERT_TRUE(surface);
  SelectGuard onTarget(target.get(), surface.get());

  HDC bufferDC = nullptr;
  HGDIOBJ bufferBitmap = nullptr;
  {
    PaintBuffer buffer(target.get(), 4, 4);
    ASSERT_TRUE(buffer.valid());
    bufferDC = buffer.dc();
    bufferBitmap = GetCurrentObject(bufferDC, OBJ_BITMAP);
    EXPECT_EQ(GetObjectType(bufferBitmap), static_cast<DWORD>(OBJ_BITMAP));
    const RECT all{0, 0, 4, 4};
    GdiObject<HBRUSH> red(CreateSolidBrush(RGB(255, 0, 0)));
    FillRect(buffer.dc(), &all, red.get());
    EXPECT_TRUE(buffer.CopyTo(target.get(), 2, 2));
  }
  EXPECT_EQ(GetPixel(target.get(), 3, 3), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(target.get(), 5, 5), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(target.get(), 1, 1), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(target.get(), 6, 6), RGB(0, 0, 0));
  EXPECT_EQ(GetObjectType(bufferBitmap), 0u);
  EXPECT_EQ(GetObjectType(bufferDC), 0u);

  PaintBuffer empty(target.get(), 0, 4);
  EXPECT_FALSE(empty.valid());
  EXPECT_FALSE(empty.CopyTo(target.get()));
}

}  // namespace
}  // namespace isetup
