// The process declares itself DPI aware, and a window's DPI is then the display's.
#include "ui/window_dpi_win.h"

#include <gtest/gtest.h>

#include "base/gdi_win.h"

namespace isetup::ui {
namespace {

TEST(WindowDpi, AnAwareProcessGetsTheDisplaysDpi) {
  // Before any window, as the program does it.
  EXPECT_TRUE(DeclareDpiAwareness());
  EXPECT_TRUE(IsProcessDPIAware());
  const HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  WindowDC screen(nullptr);
  ASSERT_TRUE(screen);
  EXPECT_EQ(WindowDpi(window), GetDeviceCaps(screen.get(), LOGPIXELSY));
  DestroyWindow(window);
  // Without a window the screen's DPI answers.
  EXPECT_EQ(WindowDpi(nullptr), GetDeviceCaps(screen.get(), LOGPIXELSY));
}

// The program's manifest declares the awareness, so its own call finds it set: that is success, and
// the older calls (and shcore.dll, where one of them lives) are not tried.
TEST(WindowDpi, AwarenessDeclaredBeforeIsKeptWithoutTryingTheOlderCalls) {
  SetProcessDPIAware();  // as the manifest would have, without loading anything
  ASSERT_EQ(GetModuleHandleW(L"shcore.dll"), nullptr);
  EXPECT_TRUE(DeclareDpiAwareness());
  EXPECT_TRUE(IsProcessDPIAware());
  EXPECT_EQ(GetModuleHandleW(L"shcore.dll"), nullptr);
}

}  // namespace
}  // namespace isetup::ui
