// Accessibility of the three controls: the events a WinEvent hook receives when texts and the value
// change, and the roles, names and values AccessibleObjectFromWindow reports.
#include "ui/control_accessible_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/control_test_support_win.h"

namespace isetup::ui {
namespace {

struct Event {
  DWORD event;
  HWND hwnd;
  LONG object;
  LONG child;
  friend bool operator==(const Event&, const Event&) = default;
};

// Out-of-context hook for this process: events arrive as messages, in the order they were raised.
class EventRecorder {
 public:
  EventRecorder() {
    recorder_ = this;
    hook_ = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, &EventRecorder::Hook,
                            GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
  }
  ~EventRecorder() {
    if (hook_) UnhookWinEvent(hook_);
    recorder_ = nullptr;
  }
  EventRecorder(const EventRecorder&) = delete;
  EventRecorder& operator=(const EventRecorder&) = delete;

  bool hooked() const { return hook_ != nullptr; }

  // Everything raised for the controls' client objects up to now: a marker event is raised last and
  // waited for, so whatever came before it has arrived too.
  std::vector<Event> Collect(HWND marker) {
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, marker, OBJID_CLIENT, CHILDID_SELF);
    const Event last{EVENT_OBJECT_VALUECHANGE, marker, OBJID_CLIENT, CHILDID_SELF};
    const bool arrived = testing::PumpUntil([&] { return !events_.empty() && events_.back() == last; });
    EXPECT_TRUE(arrived) << "the marker event never came";
    std::vector<Event> out;
    for (const Event& e : events_) {
      if (e.hwnd != marker && e.object == OBJID_CLIENT) out.push_back(e);
    }
    events_.clear();
    return out;
  }

 private:
  static void CALLBACK Hook(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
    if (recorder_) recorder_->events_.push_back({event, hwnd, object, child});
  }

  static inline EventRecorder* recorder_ = nullptr;
  HWINEVENTHOOK hook_ = nullptr;
  std::vector<Event> events_;
};

class ControlAccessibility : public ::testing::Test {
 protected:
  void SetUp() override {
    com_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(host_.created());
  }
  void TearDown() override {
    if (SUCCEEDED(com_)) CoUninitialize();
  }

  HRESULT com_ = E_FAIL;
  testing::ControlsHost host_{{440, 97}, 25};
};

TEST_F(ControlAccessibility, TextAndValueChangesAreAnnounced) {
  EventRecorder recorder;
  ASSERT_TRUE(recorder.hooked());
  const HWND label = host_.label.hwnd();
  const HWND gauge = host_.gauge.hwnd();
  const HWND marker = host_.parent();
  const auto name = [](HWND hwnd) { return Event{EVENT_OBJECT_NAMECHANGE, hwnd, OBJID_CLIENT, CHILDID_SELF}; };
  const auto value = [](HWND hwnd) { return Event{EVENT_OBJECT_VALUECHANGE, hwnd, OBJID_CLIENT, CHILDID_SELF}; };
  EXPECT_EQ(recorder.Collect(marker), std::vector<Event>{});

  struct Step {
    const char* what;
    std::function<void()> act;
    std::vector<Event> expected;
  } const steps[] = {
      {"label caption", [&] { host_.label.SetCaption(L"Идет поиск актуальной версии"); }, {name(label)}},
      {"same caption again", [&] { host_.label.SetCaption(L"Идет поиск актуальной версии"); }, {}},
      {"caption emptied", [&] { host_.label.SetCaption(L""); }, {name(label)}},
      {"gauge value", [&] { host_.gauge.SetValue(42); }, {name(gauge), value(gauge)}},
      {"same value again", [&] { host_.gauge.SetValue(42); }, {}},
      {"clamped to the same", [&] { host_.gauge.SetValue(100); host_.gauge.SetValue(150); },
       {name(gauge), value(gauge)}},
      {"percent hidden: the name changes, the value does not", [&] { host_.gauge.SetShowPercent(false); },
       {name(gauge)}},
      {"range widened: same text, other value", [&] { host_.gauge.SetMaxValue(200); }, {value(gauge)}},
      {"progress text", [&] { host_.gauge.SetProgressText(L"Загружено: "); }, {name(gauge)}},
  };
  for (const Step& step : steps) {
    step.act();
    EXPECT_EQ(recorder.Collect(marker), step.expected) << step.what;
  }
}

struct Accessible {
  IAccessible* object = nullptr;
  explicit Accessible(HWND hwnd) {
    if (FAILED(AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object)))) {
      object = nullptr;
    }
  }
  ~Accessible() {
    if (object) object->Release();
  }
  Accessible(const Accessible&) = delete;
  Accessible& operator=(const Accessible&) = delete;

  static VARIANT Self() {
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    return self;
  }
  LONG Role() const {
    VARIANT role;
    VariantInit(&role);
    if (FAILED(object->get_accRole(Self(), &role)) || role.vt != VT_I4) return -1;
    return role.lVal;
  }
  // "(none)" when the object reports no such text.
  std::wstring Name() const { return Text(&IAccessible::get_accName); }
  std::wstring Value() const { return Text(&IAccessible::get_accValue); }

 private:
  std::wstring Text(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*)) const {
    BSTR text = nullptr;
    const HRESULT result = (object->*get)(Self(), &text);
    std::wstring out = result == S_OK && text ? std::wstring(text, SysStringLen(text)) : L"(none)";
    if (text) SysFreeString(text);
    return out;
  }
};

TEST_F(ControlAccessibility, RolesNamesAndValues) {
  host_.label.SetCaption(L"Загрузка новой версии программы");
  host_.gauge.SetValue(42);
  struct Case {
    HWND hwnd;
    LONG role;
    const wchar_t* name;
    const wchar_t* value;
  } const cases[] = {
      {host_.button.hwnd(), ROLE_SYSTEM_PUSHBUTTON, L"Отменить", nullptr},
      {host_.gauge.hwnd(), ROLE_SYSTEM_PROGRESSBAR, L"Загружено 42%", L"42%"},
      {host_.label.hwnd(), ROLE_SYSTEM_STATICTEXT, L"Загрузка новой версии программы", nullptr},
  };
  for (const Case& c : cases) {
    const Accessible accessible(c.hwnd);
    ASSERT_NE(accessible.object, nullptr) << c.role;
    EXPECT_EQ(accessible.Role(), c.role);
    EXPECT_EQ(accessible.Name(), c.name) << c.role;
    if (c.value) {
      EXPECT_EQ(accessible.Value(), c.value);
    }
    // The rest stays the system's: the object belongs to the window and lies where it does.
    HWND owner = nullptr;
    EXPECT_EQ(WindowFromAccessibleObject(accessible.object, &owner), S_OK);
    EXPECT_EQ(owner, c.hwnd);
    long left = 0, top = 0, width = 0, height = 0;
    ASSERT_EQ(accessible.object->accLocation(&left, &top, &width, &height, Accessible::Self()), S_OK);
    RECT window{};
    GetWindowRect(c.hwnd, &window);
    EXPECT_EQ(left, window.left);
    EXPECT_EQ(top, window.top);
    EXPECT_EQ(width, window.right - window.left);
    EXPECT_EQ(height, window.bottom - window.top);
  }
}

TEST_F(ControlAccessibility, AnObjectHeldFollowsLaterChanges) {
  const Accessible gauge(host_.gauge.hwnd());
  const Accessible label(host_.label.hwnd());
  ASSERT_NE(gauge.object, nullptr);
  ASSERT_NE(label.object, nullptr);
  EXPECT_EQ(label.Name(), L"(none)");  // an empty caption is no name
  EXPECT_EQ(gauge.Value(), L"0%");
  host_.gauge.SetValue(7);
  host_.label.SetCaption(L"Загрузка завершена, запуск установщика");
  EXPECT_EQ(gauge.Value(), L"7%");
  EXPECT_EQ(gauge.Name(), L"Загружено 7%");
  EXPECT_EQ(label.Name(), L"Загрузка завершена, запуск установщика");
  host_.gauge.SetMaxValue(14);
  EXPECT_EQ(gauge.Value(), L"50%");

  // Once the window is gone the object says so instead of answering for another window.
  DestroyWindow(host_.gauge.hwnd());
  EXPECT_EQ(gauge.Role(), -1);
  EXPECT_EQ(gauge.Value(), L"(none)");
}

}  // namespace
}  // namespace isetup::ui
