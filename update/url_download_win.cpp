// URLDownloadToFileW with a bind-status callback that publishes the progress and aborts on cancel.
#include "update/url_download.h"

#include <windows.h>
#include <urlmon.h>

#include "run/run_state.h"
#include "base/file_names.h"
#include "base/held_file_win.h"
#include "base/name_facts_win.h"
#include "update/download_progress.h"

namespace isetup {
namespace {

// Reference-counted callback object: the count starts at 0 and the object deletes itself at the last
// Release. It answers for IUnknown and IBindStatusCallback only, so the transfer gets no
// authentication, header negotiation or service provider from it.
class CalBackInet final : public IBindStatusCallback {
 public:
  explicit CalBackInet(const TransferControl& control) : control_(control) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBindStatusCallback)) {
      *object = static_cast<IBindStatusCallback*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --count_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override {
    if (control_.percent) control_.percent->store(0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG maximum, ULONG statusCode, LPCWSTR) override {
    if (const auto percent = ProgressPercent(progress, maximum, statusCode); percent && control_.percent)
      control_.percent->store(*percent);
    const bool cancelled = (control_.cancelRequested && control_.cancelRequested->load()) ||
                           (control_.gate && control_.gate->Revoked());
    return cancelled ? E_ABORT : S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override {
    if (control_.percent) control_.percent->store(100);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

 private:
  ~CalBackInet() = default;

  std::atomic<ULONG> count_{0};
  TransferControl control_;
};

constexpr int kFreshNameAttempts = 8;

// A fresh name beside `path` at which nothing stands, not even a link to nowhere (the name itself is
// looked at, never followed); empty when none was found.
std::wstring UnusedSiblingName(const std::wstring& path) {
  for (int attempt = 0; attempt < kFreshNameAttempts; ++attempt) {
    std::wstring fresh = FreshSiblingName(path, FreshNameNonce());
    const FileHandle entry(
        OpenNameItself(fresh, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    if (!entry.valid() && GetLastError() == ERROR_FILE_NOT_FOUND) return fresh;
  }
  return {};
}

}  // namespace

FreshFile DownloadUrlBeside(const std::wstring& url, const std::wstring& path, std::uint64_t largest,
                            const TransferControl& control) {
  const std::wstring fresh = UnusedSiblingName(path);
  if (fresh.empty()) return {};
  IBindStatusCallback* callback = nullptr;
  (new CalBackInet(control))->QueryInterface(IID_IBindStatusCallback, reinterpret_cast<void**>(&callback));
  HRESULT result = E_FAIL;
  try {
    result = URLDownloadToFileW(nullptr, url.c_str(), fresh.c_str(), 0, callback);
  } catch (...) {
    result = E_FAIL;
  }
  callback->Release();
  // Taken over also after a failure, so that what the transfer left there is removed.
  FreshFile fetched = FreshFile::TakeOver(fresh, largest);
  if (result != S_OK) return {};
  return fetched;
}

}  // namespace isetup
