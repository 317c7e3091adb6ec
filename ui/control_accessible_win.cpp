// A small IAccessible around CreateStdAccessibleObject's client object: location, state, navigation and hit
// testing stay the system's, while role, name and value come from the control. Wine's oleacc has no
// IAccPropServices::SetHwndProp (it answers E_NOTIMPL), so the annotation is done by wrapping.
#include "ui/control_accessible_win.h"

#include <iterator>
#include <new>
#include <string>

namespace isetup::ui {
namespace {

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// The window thread answers WM_GETOBJECT and may never have started COM; LresultFromObject needs it.
// The apartment stays for the thread's life, which for the window thread is the process's.
bool EnsureComOnThisThread() {
  thread_local bool ready = false;
  if (!ready) {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ready = SUCCEEDED(result) || result == RPC_E_CHANGED_MODE;  // an apartment of another kind serves too
  }
  return ready;
}

BSTR AllocString(const std::wstring& text) { return SysAllocStringLen(text.data(), static_cast<UINT>(text.size())); }

class ControlAccessible final : public IAccessible, public IOleWindow {
 public:
  ControlAccessible(HWND hwnd, LONG role, bool hasValue, IAccessible* standard)
      : hwnd_(hwnd), role_(role), hasValue_(hasValue), standard_(standard) {
    standard_->AddRef();
  }
  ControlAccessible(const ControlAccessible&) = delete;
  ControlAccessible& operator=(const ControlAccessible&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
    } else if (iid == __uuidof(IOleWindow)) {
      *out = static_cast<IOleWindow*>(this);  // WindowFromAccessibleObject asks for it
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch: the standard object's type information, invoked on this object so that the replaced
  // properties answer through IDispatch too.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return standard_->GetTypeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return standard_->GetTypeInfo(index, locale, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    return standard_->GetIDsOfNames(iid, names, count, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* badArgument) override {
    ITypeInfo* info = nullptr;
    if (FAILED(standard_->GetTypeInfo(0, locale, &info)) || !info) return E_NOTIMPL;
    const HRESULT answer = DispInvoke(static_cast<IAccessible*>(this), info, id, flags, params, result, exception,
                                      badArgument);
    info->Release();
    (void)iid;
    return answer;
  }

  // IAccessible: the three replaced properties.
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (!IsSelf(child)) return standard_->get_accRole(child, role);
    if (!role) return E_POINTER;
    if (!IsWindow(hwnd_)) return CO_E_OBJNOTCONNECTED;
    VariantInit(role);
    role->vt = VT_I4;
    role->lVal = role_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!IsSelf(child)) return standard_->get_accName(child, name);
    if (!name) return E_POINTER;
    *name = nullptr;
    if (!IsWindow(hwnd_)) return CO_E_OBJNOTCONNECTED;
    const std::wstring text = WindowText();
    if (text.empty()) return S_FALSE;  // no name
    *name = AllocString(text);
    return *name ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    if (!IsSelf(child) || !hasValue_) return standard_->get_accValue(child, value);
    if (!value) return E_POINTER;
    *value = nullptr;
    if (!IsWindow(hwnd_)) return CO_E_OBJNOTCONNECTED;
    wchar_t buffer[64] = {};
    const LRESULT length = SendMessageW(hwnd_, kGetAccessibleValue, std::size(buffer), reinterpret_cast<LPARAM>(buffer));
    if (length <= 0 || length >= static_cast<LRESULT>(std::size(buffer))) return S_FALSE;
    *value = SysAllocStringLen(buffer, static_cast<UINT>(length));
    return *value ? S_OK : E_OUTOFMEMORY;
  }

  // IAccessible: the rest as the system has it.
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard_->get_accParent(parent); }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override { return standard_->get_accChildCount(count); }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
    return standard_->get_accChild(child, object);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
    return standard_->get_accDescription(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    return standard_->get_accState(child, state);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override { return standard_->get_accHelp(child, text); }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
    return standard_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
    return standard_->get_accKeyboardShortcut(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override { return standard_->get_accFocus(focus); }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    return standard_->get_accSelection(selection);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* text) override {
    return standard_->get_accDefaultAction(child, text);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override { return standard_->accSelect(flags, child); }
  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
    return standard_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    return standard_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override {
    return standard_->accHitTest(x, y, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override { return standard_->accDoDefaultAction(child); }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override { return standard_->put_accName(child, name); }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return standard_->put_accValue(child, value);
  }

  // IOleWindow
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) override {
    if (!hwnd) return E_POINTER;
    *hwnd = hwnd_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

 private:
  ~ControlAccessible() { standard_->Release(); }

  std::wstring WindowText() const {
    const int length = GetWindowTextLengthW(hwnd_);
    if (length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd_, text.data(), length + 1)));
    return text;
  }

  LONG references_ = 1;
  HWND hwnd_;
  LONG role_;
  bool hasValue_;
  IAccessible* standard_;
};

}  // namespace

LRESULT AnswerAccessibleObject(HWND hwnd, WPARAM wParam, LPARAM lParam, LONG role, bool hasValue) {
  // The object id is a DWORD in lParam; on 64-bit builds only the low half carries it.
  if (static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT) return 0;
  if (!EnsureComOnThisThread()) return 0;
  IAccessible* standard = nullptr;
  if (FAILED(CreateStdAccessibleObject(hwnd, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&standard))) ||
      !standard) {
    return 0;
  }
  auto* wrapper = new (std::nothrow) ControlAccessible(hwnd, role, hasValue, standard);
  standard->Release();
  if (!wrapper) return 0;
  const LRESULT result = LresultFromObject(__uuidof(IAccessible), wParam, static_cast<IAccessible*>(wrapper));
  wrapper->Release();
  return result > 0 ? result : 0;
}

void NotifyClientChange(HWND hwnd, DWORD event) {
  if (hwnd) NotifyWinEvent(event, hwnd, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace isetup::ui
