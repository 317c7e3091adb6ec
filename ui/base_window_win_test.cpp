// The bound window's life: binding from WM_NCCREATE, unbinding on destruction either way, the class
// registered once, and the owner thread.
#include "ui/base_window_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace isetup::ui {
namespace {

constexpr wchar_t kProbeClass[] = L"BaseWindowTestProbe";

// Logs each message it handles, and whether it was bound to the window by then; may refuse WM_CREATE.
class Probe final : public BaseWindow {
 public:
  struct Seen {
    UINT message;
    bool bound;
  };
  explicit Probe(std::vector<Seen>& log, bool refuseCreate = false) : log_(log), refuseCreate_(refuseCreate) {}
  bool Create(HWND parent = nullptr) {
    return CreateBound({.name = kProbeClass, .background = GetSysColorBrush(COLOR_BTNFACE)},
                       {.style = parent ? WS_CHILD : WS_POPUP, .width = 20, .height = 10, .parent = parent});
  }
  bool Saw(UINT message) const {
    return std::any_of(log_.begin(), log_.end(), [message](const Seen& seen) { return seen.message == message; });
  }
  using BaseWindow::DestroyBound;
  using BaseWindow::OnOwnThread;

 private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    log_.push_back({message, hwnd() != nullptr});
    return message == WM_CREATE && refuseCreate_ ? -1 : DefaultHandling(message, wParam, lParam);
  }
  std::vector<Seen>& log_;
  bool refuseCreate_;
};

TEST(BaseWindow, BindsFromNcCreateAndUnbindsWhenTheWindowIsDestroyed) {
  std::vector<Probe::Seen> log;
  Probe top(log);
  Probe child(log);
  ASSERT_TRUE(top.Create());
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front().message, static_cast<UINT>(WM_NCCREATE));
  EXPECT_TRUE(log.front().bound);
  EXPECT_FALSE(top.Create()) << "one window per object";
  ASSERT_TRUE(child.Create(top.hwnd()));  // its class exists already

  DestroyWindow(top.hwnd());  // takes the child with it
  EXPECT_EQ(top.hwnd(), nullptr);
  EXPECT_EQ(child.hwnd(), nullptr);
  EXPECT_TRUE(top.Saw(WM_DESTROY));
  EXPECT_FALSE(top.Saw(WM_NCDESTROY)) << "WM_NCDESTROY only unbinds";
  WNDCLASSEXW registered{};
  registered.cbSize = sizeof registered;
  ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), kProbeClass, &registered));
  EXPECT_EQ(registered.hbrBackground, GetSysColorBrush(COLOR_BTNFACE));

  Probe refusing(log, true);
  EXPECT_FALSE(refusing.Create());
  EXPECT_EQ(refusing.hwnd(), nullptr);
}

TEST(BaseWindow, DestroyBoundAndTheDestructorUnbindBeforeDestroying) {
  std::vector<Probe::Seen> log;
  HWND left = nullptr;
  {
    Probe probe(log);
    ASSERT_TRUE(probe.Create());
    const HWND window = probe.hwnd();
    log.clear();
    probe.DestroyBound();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(probe.hwnd(), nullptr);
    EXPECT_TRUE(log.empty()) << "the handler saw the window's last messages";
    ASSERT_TRUE(probe.Create());
    left = probe.hwnd();
  }
  EXPECT_FALSE(IsWindow(left));
}

TEST(BaseWindow, OnlyTheCreatingThreadIsItsOwnOnceThereIsAWindow) {
  std::vector<Probe::Seen> log;
  Probe probe(log);
  const auto onOtherThread = [&probe] {
    bool own = false;
    std::thread([&] { own = probe.OnOwnThread(); }).join();
    return own;
  };
  EXPECT_TRUE(onOtherThread());
  ASSERT_TRUE(probe.Create());
  EXPECT_TRUE(probe.OnOwnThread());
  EXPECT_FALSE(onOtherThread());
}

}  // namespace
}  // namespace isetup::ui
