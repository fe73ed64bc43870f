#include "com_module_win32.h"

namespace app {

CAppModule Application;

LONG CAppModule::Lock() { return ++locks_; }

LONG CAppModule::Unlock() {
  LONG n = locks_.load();
  while (n > 0 && !locks_.compare_exchange_weak(n, n - 1)) {
  }
  return n > 0 ? n - 1 : 0;
}

HRESULT CAppModule::GetGITPtr(IGlobalInterfaceTable** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::lock_guard<std::mutex> lock(git_mutex_);
  if (!git_) {
    IGlobalInterfaceTable* git = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr,
                                        CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                                        reinterpret_cast<void**>(&git));
    if (FAILED(hr)) return hr;
    if (!git) return E_UNEXPECTED;
    git_.reset(git);
  }
  git_->AddRef();
  *out = git_.get();
  return S_OK;
}

void CAppModule::Term() {
  std::lock_guard<std::mutex> lock(git_mutex_);
  git_.reset();
}

}  // namespace app
