// The skinned frame on a real window: its size and client area, shape, hit tests, painting of frame and
// caption, the inactive blur panel, DPI changes, and the picture canvas it draws with.
#include "ui/skin_frame_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui/dpi_scale.h"
#include "ui/committed_skin_test_support.h"
#include "ui/stack_blur.h"
#include "ui/window_dpi_win.h"

namespace isetup::ui {
namespace {

constexpr Size kDesignClient{440, 97};
constexpr wchar_t kFramedClass[] = L"SkinFrameTestWindow";
constexpr wchar_t kSolidClass[] = L"SkinFrameTestSolid";
constexpr COLORREF kSolidColour = RGB(0xC0, 0x20, 0x40);

using testing::CommittedSkin;

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// A child that fills itself with kSolidColour, for the snapshot tests.
LRESULT CALLBACK SolidProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT || message == WM_PRINTCLIENT) {
    PAINTSTRUCT paint{};
    const HDC dc = message == WM_PAINT ? BeginPaint(hwnd, &paint) : reinterpret_cast<HDC>(wParam);
    RECT client{};
    GetClientRect(hwnd, &client);
    GdiObject<HBRUSH> brush(CreateSolidBrush(kSolidColour));
    FillRect(dc, &client, brush.get());
    if (message == WM_PAINT) EndPaint(hwnd, &paint);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// A top-level window whose messages go to a SkinFrame first, as the setup window's do.
class FramedWindow {
 public:
  explicit FramedWindow(bool visible, const Skin& skin = CommittedSkin(), bool blur = true) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = &FramedWindow::Proc;
    wc.hInstance = instance;
    wc.lpszClassName = kFramedClass;
    RegisterClassW(&wc);  // fails harmlessly from the second window on
    WNDCLASSW solid{};
    solid.lpfnWndProc = SolidProc;
    solid.hInstance = instance;
    solid.lpszClassName = kSolidClass;
    RegisterClassW(&solid);
    hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, kFramedClass, L"", kSkinnedFrameStyle, 40, 30, 50, 50, nullptr, nullptr,
                            instance, nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    attached_ = frame.Attach(hwnd_, skin, kDesignClient, blur);
    if (visible) {
      ShowWindow(hwnd_, SW_SHOWNORMAL);
      UpdateWindow(hwnd_);
    }
  }
  ~FramedWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
  }

  HWND hwnd() const { return hwnd_; }
  bool attached() const { return attached_; }
  // A solid child at box (client coordinates).
  HWND AddSolidChild(const Box& box) {
    return CreateWindowExW(0, kSolidClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, box.left, box.top,
                           box.width(), box.height(), hwnd_, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  RECT WindowRect() const {
    RECT rect{};
    GetWindowRect(hwnd_, &rect);
    return rect;
  }
  LRESULT HitTest(int x, int y) const {
    const RECT rect = WindowRect();
    return SendMessageW(hwnd_, WM_NCHITTEST, 0, MAKELPARAM(rect.left + x, rect.top + y));
  }

  SkinFrame frame;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<FramedWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    LRESULT result = 0;
    if (self && self->frame.HandleMessage(message, wParam, lParam, result)) return result;
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }

  HWND hwnd_ = nullptr;
  bool attached_ = false;
};

// What the frame paints for the whole window.
SkinPicture PaintedFrame(const FramedWindow& window) {
  const Size outer = window.frame.metrics().outer;
  PictureCanvas canvas(outer.width, outer.height);
  window.frame.PaintFrame(canvas.dc());
  return canvas.Read();
}

std::uint32_t Rgb(std::uint32_t pixel) { return pixel & 0xFFFFFFu; }

// The smallest box around the pixels where two pictures of one size differ; empty when none does.
Box Difference(const SkinPicture& a, const SkinPicture& b) {
  Box box{a.width, a.height, 0, 0};
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      if (Rgb(a.at(x, y)) == Rgb(b.at(x, y))) continue;
      box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1), std::max(box.bottom, y + 1)};
    }
  }
  return box.right > box.left ? box : Box{};
}

FrameLook ExpectedLook(HWND window, int dpi = 0) {
  auto look = BuildFrameLook(CommittedSkin(), dpi > 0 ? dpi : WindowDpi(window), kDesignClient);
  EXPECT_TRUE(look.has_value());
  return look ? *look : FrameLook{};
}

TEST(SkinFrame, SizesTheWindowAndPutsTheClientAreaInsideTheFrame) {
  FramedWindow window(false);
  ASSERT_TRUE(window.attached());
  const FrameMetrics expected = ExpectedLook(window.hwnd()).metrics;
  EXPECT_EQ(window.frame.metrics(), expected);
  const RECT rect = window.WindowRect();
  EXPECT_EQ(rect.left, 40) << "the top-left corner stays";
  EXPECT_EQ(rect.top, 30);
  EXPECT_EQ(rect.right - rect.left, expected.outer.width);
  EXPECT_EQ(rect.bottom - rect.top, expected.outer.height);

  RECT client{};
  GetClientRect(window.hwnd(), &client);
  EXPECT_EQ(client.right, expected.client.width());
  EXPECT_EQ(client.bottom, expected.client.height());
  POINT origin{0, 0};
  ClientToScreen(window.hwnd(), &origin);
  EXPECT_EQ(origin.x - rect.left, expected.client.left);
  EXPECT_EQ(origin.y - rect.top, expected.client.top);
  if (window.frame.dpi() == 96) {
    EXPECT_EQ(client.right, 440);
    EXPECT_EQ(client.bottom, 97);
    EXPECT_EQ(origin.x - rect.left, 12);
    EXPECT_EQ(origin.y - rect.top, 80);
  }
}

TEST(SkinFrame, ShapesTheWindowByTheMask) {
  FramedWindow window(false);
  ASSERT_TRUE(window.attached());
  const Size outer = window.frame.metrics().outer;
  GdiObject<HRGN> shape(CreateRectRgn(0, 0, 0, 0));
  ASSERT_NE(GetWindowRgn(window.hwnd(), shape.get()), ERROR);
  const int scale = window.frame.dpi();
  struct Case {
    int x, y;
    bool inside;
  } cases[] = {
      {0, 0, false},
      {ScaleForDpi(1, scale), ScaleForDpi(1, scale), false},
      {outer.width - 1, 0, false},
      {outer.width / 2, 0, true},
      {0, ScaleForDpi(6, scale), true},
      {0, outer.height - 1, true},
      {outer.width - 1, outer.height - 1, true},
  };
  for (const Case& c : cases) EXPECT_EQ(PtInRegion(shape.get(), c.x, c.y) != FALSE, c.inside) << c.x << "," << c.y;
}

TEST(SkinFrame, ClientIsClientCaptionMovesAndNothingSizes) {
  FramedWindow window(false);
  ASSERT_TRUE(window.attached());
  const FrameMetrics& m = window.frame.metrics();
  struct Case {
    Point at;
    LRESULT hit;
  } cases[] = {
      {{m.client.left, m.client.top}, HTCLIENT},
      {{m.client.right - 1, m.client.bottom - 1}, HTCLIENT},
      {{m.outer.width / 2, m.caption.top + 2}, HTCAPTION},
      {{m.caption.left, m.client.top - 1}, HTCAPTION},
      {{m.outer.width - 2, m.outer.height / 2}, HTBORDER},
      {{m.outer.width - 1, m.outer.height - 1}, HTBORDER},
      {{0, m.outer.height - 1}, HTBORDER},
      {{m.outer.width / 2, m.outer.height - 1}, HTBORDER},
      {{m.outer.width / 2, 0}, HTBORDER},
  };
  for (const Case& c : cases) EXPECT_EQ(window.HitTest(c.at.x, c.at.y), c.hit) << c.at.x << "," << c.at.y;
}

TEST(SkinFrame, RefusesSizingAndMaximizingAndTheWindowMenu) {
  FramedWindow window(true);
  ASSERT_TRUE(window.attached());
  const RECT before = window.WindowRect();
  SendMessageW(window.hwnd(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  SendMessageW(window.hwnd(), WM_SYSCOMMAND, SC_KEYMENU, ' ');
  Pump();
  EXPECT_FALSE(IsZoomed(window.hwnd()));
  const RECT after = window.WindowRect();
  EXPECT_TRUE(EqualRect(&before, &after));
  EXPECT_EQ(GetWindowLongPtrW(window.hwnd(), GWL_STYLE) & (WS_SYSMENU | WS_THICKFRAME | WS_CAPTION), 0);
}

TEST(SkinFrame, PaintsTheFramePictureAndTheCaptionCentredInItsBand) {
  FramedWindow window(false);
  ASSERT_TRUE(window.attached());
  const FrameLook look = ExpectedLook(window.hwnd());
  const SkinPicture empty = PaintedFrame(window);
  ASSERT_EQ(empty.size(), look.frame.size());
  EXPECT_TRUE(Difference(empty, look.frame) == Box{}) << "without a caption only the picture shows";

  SetWindowTextW(window.hwnd(), L"Интернет установщик");
  const SkinPicture titled = PaintedFrame(window);
  const Box ink = Difference(titled, look.frame);
  const Box& band = look.metrics.captionText;
  ASSERT_GT(ink.width(), 0) << "the caption was not drawn";
  EXPECT_GE(ink.left, band.left);
  EXPECT_LE(ink.right, band.right);
  EXPECT_GE(ink.top, band.top);
  EXPECT_LE(ink.bottom, band.bottom);
  // Centred: the same room on both sides, give or take the glyphs' own side bearings.
  EXPECT_LE(std::abs((ink.left - band.left) - (band.right - ink.right)), 3);
}

TEST(SkinFrame, ALongCaptionStaysInsideItsBand) {
  FramedWindow window(false);
  ASSERT_TRUE(window.attached());
  const FrameLook look = ExpectedLook(window.hwnd());
  std::wstring caption;
  for (int i = 0; i < 12; ++i) caption += L"Интернет установщик ";
  SetWindowTextW(window.hwnd(), caption.c_str());
  const Box ink = Difference(PaintedFrame(window), look.frame);
  const Box& band = look.metrics.captionText;
  ASSERT_GT(ink.width(), 0);
  EXPECT_GE(ink.left, band.left);
  EXPECT_LE(ink.right, band.right);
  // Shortened text is still centred and nearly fills the band.
  EXPECT_GT(ink.width(), band.width() * 3 / 4);
}

// The colours of a picture's pixels inside box.
std::vector<std::uint32_t> Colours(const SkinPicture& picture, const Box& box) {
  std::vector<std::uint32_t> colours;
  for (int y = box.top; y < box.bottom; ++y) {
    for (int x = box.left; x < box.right; ++x) colours.push_back(Rgb(picture.at(x, y)));
  }
  return colours;
}

TEST(SkinFrame, ActivationSwitchesTheCaptionColour) {
  FramedWindow window(false);
  ASSERT_TRUE(window.attached());
  SetWindowTextW(window.hwnd(), L"Caption");
  const Box band = window.frame.metrics().captionText;
  SendMessageW(window.hwnd(), WM_NCACTIVATE, TRUE, 0);
  EXPECT_TRUE(window.frame.active());
  const std::vector<std::uint32_t> active = Colours(PaintedFrame(window), band);
  SendMessageW(window.hwnd(), WM_NCACTIVATE, FALSE, 0);
  EXPECT_FALSE(window.frame.active());
  const std::vector<std::uint32_t> inactive = Colours(PaintedFrame(window), band);
  EXPECT_NE(active, inactive);
  // Fully covered pixels carry the caption colour itself: #4F739A active, #50749B inactive.
  const auto has = [](const std::vector<std::uint32_t>& colours, std::uint32_t colour) {
    return std::find(colours.begin(), colours.end(), colour) != colours.end();
  };
  EXPECT_TRUE(has(active, 0x4F739Au));
  EXPECT_FALSE(has(active, 0x50749Bu));
  EXPECT_TRUE(has(inactive, 0x50749Bu));
  EXPECT_FALSE(has(inactive, 0x4F739Au));
}

// What the visible window shows of itself, read from its window DC.
SkinPicture OnScreen(const FramedWindow& window) {
  const Size outer = window.frame.metrics().outer;
  PictureCanvas canvas(outer.width, outer.height);
  WindowFrameDC dc(window.hwnd());
  BitBlt(canvas.dc(), 0, 0, outer.width, outer.height, dc.get(), 0, 0, SRCCOPY);
  return canvas.Read();
}

TEST(SkinFrame, SetTextRedrawsTheCaptionAtOnce) {
  FramedWindow window(true);
  ASSERT_TRUE(window.attached());
  Pump();
  const Box band = window.frame.metrics().captionText;
  const std::vector<std::uint32_t> before = Colours(OnScreen(window), band);
  SetWindowTextW(window.hwnd(), L"Загрузка");  // no message pumping: the redraw happens inside the call
  const std::vector<std::uint32_t> after = Colours(OnScreen(window), band);
  EXPECT_NE(before, after);
}

TEST(SkinFrame, PaintsTheClientBackgroundFromThePicturesClientPart) {
  FramedWindow window(false);
  ASSERT_TRUE(window.attached());
  const FrameLook look = ExpectedLook(window.hwnd());
  RECT client{};
  GetClientRect(window.hwnd(), &client);
  PictureCanvas canvas(client.right, client.bottom);
  SendMessageW(window.hwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), PRF_CLIENT);
  const SkinPicture painted = canvas.Read();
  ASSERT_EQ(painted.width, client.right);
  for (int y = 0; y < painted.height; y += 7) {
    for (int x = 0; x < painted.width; x += 11) {
      ASSERT_EQ(Rgb(painted.at(x, y)), Rgb(look.clientBackground.at(x, y))) << x << "," << y;
    }
  }
  EXPECT_EQ(SendMessageW(window.hwnd(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.dc()), 0), 1);
}

HWND BlurPanelOf(HWND window) { return FindWindowExW(window, nullptr, kBlurPanelClass, nullptr); }

TEST(SkinFrame, DeactivationCoversTheClientWithABlurredSnapshotThatLetsClicksThrough) {
  FramedWindow window(true);
  ASSERT_TRUE(window.attached());
  const HWND child = window.AddSolidChild({100, 20, 200, 60});
  ASSERT_NE(child, nullptr);
  Pump();
  const SkinPicture sharp = SnapshotClient(window.hwnd());

  SendMessageW(window.hwnd(), WM_ACTIVATE, WA_INACTIVE, 0);
  const HWND panel = BlurPanelOf(window.hwnd());
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(window.frame.blurred());
  EXPECT_TRUE(IsWindowVisible(panel));
  EXPECT_EQ(GetWindow(window.hwnd(), GW_CHILD), panel) << "the panel lies above every other child";
  RECT panelRect{}, client{};
  GetClientRect(panel, &panelRect);
  GetClientRect(window.hwnd(), &client);
  EXPECT_TRUE(EqualRect(&panelRect, &client));

  // It shows the snapshot blurred, not the live client area.
  PictureCanvas shown(client.right, client.bottom);
  SendMessageW(panel, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(shown.dc()), PRF_CLIENT);
  const SkinPicture blurred = StackBlurred(sharp, kInactiveBlurRadius);
  const SkinPicture painted = shown.Read();
  ASSERT_EQ(painted.size(), blurred.size());
  EXPECT_TRUE(Difference(painted, blurred) == Box{});
  EXPECT_NE(Rgb(painted.at(99, 40)), Rgb(sharp.at(99, 40))) << "the child's edge is soft";

  // The mouse goes through it to the child beneath.
  POINT over{150, 40};
  ClientToScreen(window.hwnd(), &over);
  EXPECT_EQ(SendMessageW(panel, WM_NCHITTEST, 0, MAKELPARAM(over.x, over.y)), HTTRANSPARENT);
  EXPECT_EQ(WindowFromPoint(over), child);

  SendMessageW(window.hwnd(), WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_FALSE(IsWindowVisible(panel));
  EXPECT_FALSE(window.frame.blurred());
}

TEST(SkinFrame, NoBlurForAHiddenWindowOrWhenItIsSwitchedOff) {
  {
    FramedWindow hidden(false);
    ASSERT_TRUE(hidden.attached());
    SendMessageW(hidden.hwnd(), WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_FALSE(hidden.frame.blurred());
  }
  FramedWindow plain(true, CommittedSkin(), false);
  ASSERT_TRUE(plain.attached());
  SendMessageW(plain.hwnd(), WM_ACTIVATE, WA_INACTIVE, 0);
  EXPECT_FALSE(plain.frame.blurred());
  EXPECT_EQ(BlurPanelOf(plain.hwnd()), nullptr);
}

TEST(SkinFrame, ANewDpiRebuildsTheLookAtTheSuggestedPlace) {
  FramedWindow window(false);
  ASSERT_TRUE(window.attached());
  const FrameLook at144 = ExpectedLook(window.hwnd(), 144);
  SIZE scaled{};
  EXPECT_EQ(SendMessageW(window.hwnd(), WM_GETDPISCALEDSIZE, 144, reinterpret_cast<LPARAM>(&scaled)), TRUE);
  EXPECT_EQ(scaled.cx, at144.metrics.outer.width);
  EXPECT_EQ(scaled.cy, at144.metrics.outer.height);

  const RECT suggested{200, 150, 200 + scaled.cx, 150 + scaled.cy};
  ASSERT_TRUE(window.frame.SetDpi(144, &suggested));
  EXPECT_EQ(window.frame.dpi(), 144);
  const RECT rect = window.WindowRect();
  EXPECT_TRUE(EqualRect(&rect, &suggested));
  RECT client{};
  GetClientRect(window.hwnd(), &client);
  EXPECT_EQ(client.right, 660);
  EXPECT_EQ(client.bottom, 146);
  EXPECT_EQ(window.frame.metrics(), at144.metrics);
  EXPECT_TRUE(Difference(PaintedFrame(window), at144.frame) == Box{});

  GdiObject<HRGN> shape(CreateRectRgn(0, 0, 0, 0));
  ASSERT_NE(GetWindowRgn(window.hwnd(), shape.get()), ERROR);
  EXPECT_FALSE(PtInRegion(shape.get(), 2, 1));
  EXPECT_TRUE(PtInRegion(shape.get(), 349, 0));
  EXPECT_TRUE(PtInRegion(shape.get(), 697, 280));
}

TEST(SkinFrame, ASkinWithoutAFrameLeavesTheWindowAlone) {
  FramedWindow window(false, Skin{});
  EXPECT_FALSE(window.attached());
  EXPECT_FALSE(window.frame.attached());
  const RECT rect = window.WindowRect();
  EXPECT_EQ(rect.right - rect.left, 50);
  LRESULT ignored = 0;
  EXPECT_FALSE(window.frame.HandleMessage(WM_NCHITTEST, 0, 0, ignored));
}

TEST(SnapshotClient, DrawsTheWindowAndItsVisibleChildrenButNotTheSkippedOne) {
  FramedWindow window(false);
  ASSERT_TRUE(window.attached());
  const HWND shown = window.AddSolidChild({10, 10, 30, 20});
  const HWND skipped = window.AddSolidChild({50, 10, 70, 20});
  const HWND hidden = window.AddSolidChild({90, 10, 110, 20});
  ShowWindow(hidden, SW_HIDE);
  const SkinPicture snapshot = SnapshotClient(window.hwnd(), skipped);
  const FrameLook look = ExpectedLook(window.hwnd());
  ASSERT_EQ(snapshot.size(), (Size{look.metrics.client.width(), look.metrics.client.height()}));
  const std::uint32_t solid = 0xC02040u;  // kSolidColour as 0x00RRGGBB
  EXPECT_EQ(Rgb(snapshot.at(10, 10)), solid);
  EXPECT_EQ(Rgb(snapshot.at(29, 19)), solid);
  EXPECT_EQ(Rgb(snapshot.at(30, 19)), Rgb(look.clientBackground.at(30, 19)));
  EXPECT_EQ(Rgb(snapshot.at(60, 15)), Rgb(look.clientBackground.at(60, 15)));
  EXPECT_EQ(Rgb(snapshot.at(100, 15)), Rgb(look.clientBackground.at(100, 15)));
  EXPECT_NE(shown, nullptr);
  EXPECT_TRUE(SnapshotClient(nullptr).pixels.empty());
}

TEST(PictureCanvas, HoldsDrawsAndTilesAPicture) {
  SkinPicture picture{3, 2, {0x010203u, 0x040506u, 0x070809u, 0x0A0B0Cu, 0x0D0E0Fu, 0x101112u}};
  PictureCanvas canvas(picture);
  ASSERT_TRUE(canvas.valid());
  EXPECT_EQ(canvas.Read().pixels, picture.pixels);

  PictureCanvas target(8, 5);
  ASSERT_TRUE(target.valid());
  EXPECT_EQ(target.Read().pixels, std::vector<std::uint32_t>(40, 0u));
  ASSERT_TRUE(canvas.TileTo(target.dc(), {1, 1, 8, 4}));
  const SkinPicture tiled = target.Read();
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 8; ++x) {
      const bool inside = x >= 1 && y >= 1 && y < 4;
      const std::uint32_t expected = inside ? picture.at((x - 1) % 3, (y - 1) % 2) : 0u;
      EXPECT_EQ(Rgb(tiled.at(x, y)), expected) << x << "," << y;
    }
  }
  EXPECT_FALSE(PictureCanvas(0, 4).valid());
  EXPECT_FALSE(PictureCanvas(SkinPicture{}).valid());
  EXPECT_TRUE(PictureCanvas(0, 4).Read().pixels.empty());
}

}  // namespace
}  // namespace isetup::ui
