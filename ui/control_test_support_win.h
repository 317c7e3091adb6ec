// Helpers for the Windows-side control tests: a 32-bit DIB to draw into and read back, the window's three
// controls in a test window, and running the thread's queued messages.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>

#include "base/gdi_win.h"
#include "ui/skin_controls_win.h"

namespace isetup::ui::testing {

// A top-down 32-bit DIB section selected into its own memory DC; pixels read back as 0x00RRGGBB.
class DibCanvas {
 public:
  DibCanvas(int width, int height, COLORREF fill = RGB(0x12, 0x34, 0x56)) : width_(width), height_(height), dc_(nullptr) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    bits_ = static_cast<const std::uint32_t*>(bits);
    old_ = bitmap_ ? SelectObject(dc_.get(), bitmap_.get()) : nullptr;
    GdiObject<HBRUSH> brush(CreateSolidBrush(fill));
    const RECT all{0, 0, width, height};
    FillRect(dc_.get(), &all, brush.get());
  }
  ~DibCanvas() {
    if (old_) SelectObject(dc_.get(), old_);
  }
  DibCanvas(const DibCanvas&) = delete;
  DibCanvas& operator=(const DibCanvas&) = delete;

  bool valid() const { return bits_ != nullptr && old_ != nullptr; }
  HDC dc() const { return dc_.get(); }
  RECT rect() const { return {0, 0, width_, height_}; }
  int width() const { return width_; }
  int height() const { return height_; }
  std::uint32_t at(int x, int y) const {
    GdiFlush();
    return bits_[static_cast<std::size_t>(y) * width_ + x] & 0xFFFFFFu;
  }
  // Pixels in [x0, x1) × [y0, y1) that are none of the given colours.
  int CountOther(int x0, int x1, int y0, int y1, std::initializer_list<std::uint32_t> colours) const {
    int count = 0;
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        bool known = false;
        for (std::uint32_t c : colours) known = known || at(x, y) == c;
        count += known ? 0 : 1;
      }
    }
    return count;
  }
  // The smallest box holding every pixel that is none of the given colours; empty when there is none.
  Box InkBox(std::initializer_list<std::uint32_t> colours) const {
    Box box{width_, height_, 0, 0};
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        bool known = false;
        for (std::uint32_t c : colours) known = known || at(x, y) == c;
        if (known) continue;
        box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1), std::max(box.bottom, y + 1)};
      }
    }
    return box.right > box.left ? box : Box{};
  }

 private:
  int width_;
  int height_;
  MemoryDC dc_;
  GdiObject<HBITMAP> bitmap_;
  const std::uint32_t* bits_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

// The control's client area as painted through WM_PRINTCLIENT, into a DIB of its size.
inline void PrintClient(HWND hwnd, DibCanvas& canvas) {
  SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), PRF_CLIENT);
}

inline Size ClientSize(HWND hwnd) {
  RECT client{};
  GetClientRect(hwnd, &client);
  return {client.right, client.bottom};
}

// Runs everything queued for this thread, as the message loop would.
inline void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Pumps until done() holds or the time limit passes; true when done() held. The limit only guards against
// a hang: the tests wait for an event, never for a time.
inline bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 10000) {
  const ULONGLONG start = GetTickCount64();
  while (!done()) {
    if (GetTickCount64() - start > limitMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    Pump();
  }
  return true;
}

// A top-level window holding the three controls at the boxes the form gives them.
class ControlsHost {
 public:
  ControlsHost(Size client, int gaugeHeight, bool visible = false) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ControlTestHost";
    RegisterClassW(&wc);  // fails harmlessly from the second host on
    parent_ = CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP | (visible ? WS_VISIBLE : 0), 0, 0,
                              client.width, client.height, nullptr, nullptr, wc.hInstance, nullptr);
    const SetupFormBoxes boxes = LayOutSetupForm(client, gaugeHeight);
    created_ = parent_ &&
               button.Create(parent_, boxes.cancelButton, SetupFormComponent(ComponentRole::CancelButton),
                             [this] { ++clicks; }) &&
               gauge.Create(parent_, boxes.gauge, SetupFormComponent(ComponentRole::ProgressGauge)) &&
               label.Create(parent_, boxes.label, SetupFormComponent(ComponentRole::StatusLine));
  }
  ~ControlsHost() {
    if (parent_) DestroyWindow(parent_);
  }
  ControlsHost(const ControlsHost&) = delete;
  ControlsHost& operator=(const ControlsHost&) = delete;

  bool created() const { return created_; }
  HWND parent() const { return parent_; }

  SkinButton button;
  SkinGauge gauge;
  SkinLabel label;
  int clicks = 0;

 private:
  HWND parent_ = nullptr;
  bool created_ = false;
};

}  // namespace isetup::ui::testing
