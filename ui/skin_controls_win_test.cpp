// The three controls in a test window: class names, window texts, clamping, redraw marks, mouse-only
// clicks, focus refusal, and what the plain look paints.
#include "ui/skin_controls_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/control_test_support_win.h"

namespace isetup::ui {
namespace {

using testing::Pump;

// A top-level window of the window's client size holding the three controls at their laid-out boxes.
// Only a visible window keeps update regions, so the redraw tests ask for one.
struct ControlsWindow : testing::ControlsHost {
  explicit ControlsWindow(bool visible = false) : ControlsHost({440, 97}, 25, visible) {}
};

std::wstring WindowText(HWND hwnd) {
  wchar_t text[256] = {};
  SendMessageW(hwnd, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
  return text;
}

std::wstring ClassName(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
  return name;
}

Box BoxInParent(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right, rect.bottom};
}

// The control's client area rendered through WM_PRINTCLIENT into a 32-bit bitmap.
class Render {
 public:
  explicit Render(HWND hwnd) : dc_(nullptr) {
    RECT client{};
    GetClientRect(hwnd, &client);
    width_ = client.right;
    height_ = client.bottom;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width_, -height_, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    SelectGuard select(dc_.get(), bitmap_.get());
    SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc_.get()), PRF_CLIENT);
    pixels_.resize(static_cast<std::size_t>(width_) * height_);
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) pixels_[static_cast<std::size_t>(y) * width_ + x] = GetPixel(dc_.get(), x, y);
    }
  }
  COLORREF at(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }
  int width() const { return width_; }
  int height() const { return height_; }
  // Pixels in columns [x0, x1) of any row that are none of the given colours.
  int CountOther(int x0, int x1, std::initializer_list<COLORREF> colours) const {
    int count = 0;
    for (int y = 0; y < height_; ++y) {
      for (int x = x0; x < x1; ++x) {
        bool known = false;
        for (COLORREF c : colours) known = known || at(x, y) == c;
        count += known ? 0 : 1;
      }
    }
    return count;
  }

 private:
  MemoryDC dc_;
  GdiObject<HBITMAP> bitmap_;
  int width_ = 0;
  int height_ = 0;
  std::vector<COLORREF> pixels_;
};

TEST(SkinControls, ClassNamesBoxesAndNoTabStops) {
  ControlsWindow window;
  ASSERT_TRUE(window.created());
  const SetupFormBoxes boxes = LayOutSetupForm({440, 97}, 25);
  struct Case {
    HWND hwnd;
    const wchar_t* className;
    Box box;
  } const cases[] = {{window.button.hwnd(), L"TSkinButton", boxes.cancelButton},
                     {window.gauge.hwnd(), L"TSkinGauge", boxes.gauge},
                     {window.label.hwnd(), L"TSkinLabel", boxes.label}};
  for (const Case& c : cases) {
    EXPECT_EQ(ClassName(c.hwnd), c.className);
    EXPECT_EQ(BoxInParent(c.hwnd), c.box) << c.className;
    EXPECT_EQ(GetWindowLongW(c.hwnd, GWL_STYLE) & WS_TABSTOP, 0) << c.className;
  }
}

TEST(SkinControls, WindowTextsFollowCaptionAndGaugeText) {
  ControlsWindow window;
  ASSERT_TRUE(window.created());
  EXPECT_EQ(WindowText(window.button.hwnd()), L"Отменить");
  EXPECT_EQ(WindowText(window.label.hwnd()), L"");
  EXPECT_EQ(WindowText(window.gauge.hwnd()), L"Загружено 0%");

  window.label.SetCaption(L"Идет поиск актуальной версии");
  EXPECT_EQ(WindowText(window.label.hwnd()), L"Идет поиск актуальной версии");
  EXPECT_EQ(window.label.Caption(), L"Идет поиск актуальной версии");
  window.label.SetCaption(L"");
  EXPECT_EQ(WindowText(window.label.hwnd()), L"");

  struct Case {
    int set, stored;
    const wchar_t* text;
  } const cases[] = {{42, 42, L"Загружено 42%"}, {150, 100, L"Загружено 100%"}, {-5, 0, L"Загружено 0%"},
                     {7, 7, L"Загружено 7%"}};
  for (const Case& c : cases) {
    window.gauge.SetValue(c.set);
    EXPECT_EQ(window.gauge.Value(), c.stored) << c.set;
    EXPECT_EQ(WindowText(window.gauge.hwnd()), c.text) << c.set;
    EXPECT_EQ(window.gauge.Text(), c.text) << c.set;
  }
  window.gauge.SetShowPercent(false);
  EXPECT_EQ(WindowText(window.gauge.hwnd()), L"Загружено ");
  window.gauge.SetShowPercent(true);
  window.gauge.SetMaxValue(5);  // pulls 7 down to 5: 100 %
  EXPECT_EQ(window.gauge.Value(), 5);
  EXPECT_EQ(WindowText(window.gauge.hwnd()), L"Загружено 100%");
  window.gauge.SetProgressAnimationPause(-1);
  EXPECT_EQ(window.gauge.ProgressAnimationPause(), 3000);
}

TEST(SkinControls, GaugeIsMarkedForRedrawOnlyWhenItsValueChanges) {
  ControlsWindow window(true);
  ASSERT_TRUE(window.created());
  const HWND gauge = window.gauge.hwnd();
  UpdateWindow(window.parent());
  ASSERT_FALSE(GetUpdateRect(gauge, nullptr, FALSE));

  window.gauge.SetValue(0);
  EXPECT_FALSE(GetUpdateRect(gauge, nullptr, FALSE));
  window.gauge.SetValue(-5);  // clamps to the 0 already held
  EXPECT_FALSE(GetUpdateRect(gauge, nullptr, FALSE));
  window.gauge.SetValue(30);
  EXPECT_TRUE(GetUpdateRect(gauge, nullptr, FALSE));  // marked, drawn at the next paint
  UpdateWindow(gauge);
  EXPECT_FALSE(GetUpdateRect(gauge, nullptr, FALSE));
  window.gauge.SetValue(30);
  EXPECT_FALSE(GetUpdateRect(gauge, nullptr, FALSE));

  // The label draws at once: nothing is left pending after SetCaption.
  window.label.SetCaption(L"Загрузка новой версии программы");
  EXPECT_FALSE(GetUpdateRect(window.label.hwnd(), nullptr, FALSE));
}

TEST(SkinButton, AClickInsideFiresOnceOnRelease) {
  ControlsWindow window;
  ASSERT_TRUE(window.created());
  const HWND button = window.button.hwnd();
  PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(60, 12));
  Pump();
  EXPECT_EQ(window.button.State(), ButtonState::Pressed);
  EXPECT_EQ(GetCapture(), button);
  EXPECT_EQ(window.clicks, 0);
  PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(60, 12));
  Pump();
  EXPECT_EQ(window.clicks, 1);
  EXPECT_NE(window.button.State(), ButtonState::Pressed);
  EXPECT_NE(GetCapture(), button);

  // A release without a press on the button is no click.
  PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(60, 12));
  Pump();
  EXPECT_EQ(window.clicks, 1);
}

TEST(SkinButton, ReleasingOutsideOnlyRestoresTheNormalLook) {
  ControlsWindow window;
  ASSERT_TRUE(window.created());
  const HWND button = window.button.hwnd();
  const LPARAM outside[] = {MAKELPARAM(130, 12), MAKELPARAM(60, 25), MAKELPARAM(-1, 12), MAKELPARAM(60, -40)};
  for (const LPARAM up : outside) {
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(60, 12));
    PostMessageW(button, WM_MOUSEMOVE, MK_LBUTTON, up);
    Pump();
    EXPECT_EQ(window.button.State(), ButtonState::Pressed);  // held down while moved off
    PostMessageW(button, WM_LBUTTONUP, 0, up);
    Pump();
    EXPECT_EQ(window.button.State(), ButtonState::Normal);
    EXPECT_NE(GetCapture(), button);
  }
  EXPECT_EQ(window.clicks, 0);
}

TEST(SkinButton, KeysDoNothing) {
  ControlsWindow window;
  ASSERT_TRUE(window.created());
  const HWND button = window.button.hwnd();
  for (const WPARAM key : {VK_RETURN, VK_SPACE, VK_ESCAPE, VK_TAB}) {
    PostMessageW(button, WM_KEYDOWN, key, 1);
    PostMessageW(button, WM_CHAR, key, 1);
    PostMessageW(button, WM_KEYUP, key, 0xC0000001);
  }
  Pump();
  EXPECT_EQ(window.clicks, 0);
  EXPECT_EQ(window.button.State(), ButtonState::Normal);
}

TEST(SkinControls, NoneKeepsTheFocus) {
  ControlsWindow window(true);
  ASSERT_TRUE(window.created());
  for (const HWND control : {window.button.hwnd(), window.gauge.hwnd(), window.label.hwnd()}) {
    SetFocus(control);
    EXPECT_NE(GetFocus(), control) << ClassName(control);
  }
  // A press does not move the focus onto the button either.
  SetFocus(window.parent());
  PostMessageW(window.button.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(60, 12));
  PostMessageW(window.button.hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(60, 12));
  Pump();
  EXPECT_EQ(window.clicks, 1);
  EXPECT_NE(GetFocus(), window.button.hwnd());
}

TEST(SkinGauge, PlainLookFillsTheLeftPartOnly) {
  ControlsWindow window;
  ASSERT_TRUE(window.created());
  const COLORREF background = GetSysColor(COLOR_WINDOW);
  const COLORREF frame = GetSysColor(COLOR_BTNSHADOW);
  struct Case {
    int value;
    int lastFilled;  // last filled column; the fill starts at 1, inside the frame
  } const cases[] = {{0, 0}, {50, 204}, {100, 408}};
  for (const Case& c : cases) {
    window.gauge.SetValue(c.value);
    const Render render(window.gauge.hwnd());
    ASSERT_EQ(render.width(), 410);
    ASSERT_EQ(render.height(), 25);
    EXPECT_EQ(render.at(0, 0), frame);
    EXPECT_EQ(render.at(409, 24), frame);
    // Sample a row above the text, left and right of it.
    for (const int x : {1, 50, 100, 150, 260, 300, 350, 408}) {
      const COLORREF expected = x <= c.lastFilled ? kPlainGaugeFill : background;
      EXPECT_EQ(render.at(x, 2), expected) << "value " << c.value << " x " << x;
    }
    // The text sits across the middle, over the fill and the rest alike.
    EXPECT_GT(render.CountOther(150, 260, {kPlainGaugeFill, background, frame}), 0) << c.value;
    EXPECT_EQ(render.CountOther(1, 100, {kPlainGaugeFill, background, frame}), 0) << c.value;
  }
}

TEST(SkinLabel, PlainLookClipsTheTextInsideItsInset) {
  ControlsWindow window;
  ASSERT_TRUE(window.created());
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const COLORREF frame = GetSysColor(COLOR_BTNSHADOW);
  {
    const Render empty(window.label.hwnd());
    EXPECT_EQ(empty.at(0, 0), frame);
    EXPECT_EQ(empty.at(409, 19), frame);
    EXPECT_EQ(empty.CountOther(1, 409, {face, frame}), 0);  // an empty caption draws only the background
  }
  // Far wider than the label: centred, so it is cut at both edges of the text box and nowhere else.
  std::wstring wide;
  for (int i = 0; i < 12; ++i) wide += L"Загрузка новой версии ";
  window.label.SetCaption(wide);
  const Render render(window.label.hwnd());
  EXPECT_GT(render.CountOther(3, 12, {face, frame}), 0);
  EXPECT_GT(render.CountOther(398, 407, {face, frame}), 0);
  EXPECT_EQ(render.CountOther(1, 3, {face, frame}), 0);
  EXPECT_EQ(render.CountOther(407, 409, {face, frame}), 0);
}

// A stand-in skin entry: one colour over the whole gauge.
class SolidGaugeSkin final : public GaugeSkinEntry {
 public:
  void DrawGauge(HDC dc, const RECT& client, const GaugeModel& model) const override {
    lastValue = model.Value();
    GdiObject<HBRUSH> brush(CreateSolidBrush(RGB(0x12, 0x34, 0x56)));
    FillRect(dc, &client, brush.get());
  }
  mutable int lastValue = -1;
};

TEST(SkinGauge, ASkinEntryDrawsInsteadOfThePlainLook) {
  ControlsWindow window;
  ASSERT_TRUE(window.created());
  SolidGaugeSkin skin;
  window.gauge.SetValue(64);
  window.gauge.SetSkinEntry(&skin);
  {
    const Render render(window.gauge.hwnd());
    EXPECT_EQ(render.at(50, 2), RGB(0x12, 0x34, 0x56));
    EXPECT_EQ(skin.lastValue, 64);
  }
  window.gauge.SetSkinEntry(nullptr);
  const Render plain(window.gauge.hwnd());
  EXPECT_EQ(plain.at(50, 2), kPlainGaugeFill);
}

TEST(SkinControls, ControlAndWindowMayEndInEitherOrder) {
  ControlsWindow window;
  ASSERT_TRUE(window.created());
  HWND early = nullptr;
  {
    SkinLabel label;
    ASSERT_TRUE(label.Create(window.parent(), Box{0, 0, 10, 10}, SetupFormComponent(ComponentRole::StatusLine)));
    early = label.hwnd();
  }
  EXPECT_FALSE(IsWindow(early));  // the object took its window with it

  // The parent goes first: every control lets go of its window and can still be destroyed safely.
  const HWND gauge = window.gauge.hwnd();
  DestroyWindow(window.parent());
  EXPECT_FALSE(IsWindow(gauge));
  EXPECT_EQ(window.gauge.hwnd(), nullptr);
  EXPECT_EQ(window.button.hwnd(), nullptr);
  EXPECT_EQ(window.label.hwnd(), nullptr);
  window.gauge.SetValue(90);  // no window to mark: only the state changes
  EXPECT_EQ(window.gauge.Value(), 90);
}

}  // namespace
}  // namespace isetup::ui
