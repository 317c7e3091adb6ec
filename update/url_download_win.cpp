// URLDownloadToFileW with a bind-status callback that publishes the progress and aborts on cancel.
#include "update/url_download.h"

#include <windows.h>
#include <urlmon.h>

#include <memory>

#include "app/run_state.h"
#include "base/held_file_win.h"
#include "update/download_progress.h"

namespace isetup {
namespace {

// Reference-counted callback object: the count starts at 0 and the object deletes itself at the last
// Release. It answers for IUnknown and IBindStatusCallback only, so the transfer gets no
// authentication, header negotiation or service provider from it.
class CalBackInet final : public IBindStatusCallback {
 public:
  CalBackInet(const TransferControl& control, std::shared_ptr<FileHandle> nameKeeper)
      : control_(control), nameKeeper_(std::move(nameKeeper)) {}

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
    // The data is in; the platform now copies it to the file by its name, and may want it unshared.
    if (statusCode == BINDSTATUS_ENDDOWNLOADDATA) nameKeeper_->reset();
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
  std::shared_ptr<FileHandle> nameKeeper_;  // let go of here or by DownloadUrlToFile, whichever is first
};

// Puts a fresh empty file of ours at `path` in place of whatever stood there (a link planted there is
// replaced, not followed), and keeps its name from being deleted or replaced while the transfer runs,
// so no link can be planted there before the platform writes the file. Invalid when the name cannot be
// taken; the download then fails like any other.
FileHandle ClaimDownloadTarget(const std::wstring& path) {
  FileReplacement empty(path);
  if (empty.handle() == INVALID_HANDLE_VALUE) return {};
  return KeepNameForAnotherWriter(empty.Commit([](std::span<const std::uint8_t> content) { return content.empty(); }));
}

}  // namespace

bool DownloadUrlToFile(const std::wstring& url, const std::wstring& path, const TransferControl& control) {
  auto nameKeeper = std::make_shared<FileHandle>(ClaimDownloadTarget(path));
  if (!nameKeeper->valid()) return false;
  IBindStatusCallback* callback = nullptr;
  (new CalBackInet(control, nameKeeper))->QueryInterface(IID_IBindStatusCallback, reinterpret_cast<void**>(&callback));
  HRESULT result = E_FAIL;
  try {
    result = URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, callback);
  } catch (...) {
    result = E_FAIL;
  }
  callback->Release();
  nameKeeper->reset();  // also when the platform still holds the callback
  // Whatever the platform wrote must have gone into a plain file at `path`, not through a link.
  return result == S_OK && PlainFileStandsAt(path);
}

}  // namespace isetup
