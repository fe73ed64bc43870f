// The OLE drop target: one object for the whole process (not reference counted), registered
// for every window that takes drops. At drag enter it takes the first format of the data object
// that gives usable data; the drop uses what it took then.
#include "drag_drop_os.h"

#include "desktop/shell_data.h"

#include <ole2.h>
#include <windows.h>

#include <shellapi.h>

namespace desktop::os {
namespace {

class IDropTargetImpl : public IDropTarget {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDropTarget)) {
      *out = static_cast<IDropTarget*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD, POINTL pt,
                                      DWORD* effect) override {
    items_.clear();
    effect_ = kDropEffectNone;
    format_ = 0;
    if (data) Gather(data);
    if (!items_.empty() && handler_) handler_->OnDragEnter(format_, items_, pt.x, pt.y);
    if (effect) *effect = effect_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL pt, DWORD* effect) override {
    if (effect) *effect = effect_;
    if (!items_.empty() && handler_) {
      effect_ = handler_->OnDragOver(format_, items_, pt.x, pt.y, effect_);
      if (effect) *effect = effect_;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE DragLeave() override {
    if (!items_.empty() && handler_) handler_->OnDragLeave();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Drop(IDataObject*, DWORD, POINTL pt, DWORD* effect) override {
    if (effect) *effect = effect_;
    if (!items_.empty() && handler_) handler_->OnDrop(format_, items_, pt.x, pt.y);
    return S_OK;
  }

  void set_handler(drop_handler* h) { handler_ = h; }

 private:
  void Gather(IDataObject* data) {
    IEnumFORMATETC* formats = nullptr;
    if (FAILED(data->EnumFormatEtc(DATADIR_GET, &formats)) || !formats) return;
    const auto link = static_cast<std::uint16_t>(RegisterClipboardFormatW(L"UniformResourceLocator"));
    FORMATETC fe{};
    bool done = false;
    while (!done && formats->Next(1, &fe, nullptr) == S_OK) {
      format_ = fe.cfFormat;
      const bool wanted = fe.cfFormat == CF_UNICODETEXT || fe.cfFormat == CF_TEXT ||
                          fe.cfFormat == CF_HDROP || (link && fe.cfFormat == link);
      STGMEDIUM medium{};
      if (wanted && SUCCEEDED(data->GetData(&fe, &medium))) {
        if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
          const SIZE_T size = GlobalSize(medium.hGlobal);
          const void* p = GlobalLock(medium.hGlobal);
          if (p) {
            done = DragItemsFromBlock(fe.cfFormat, link, static_cast<const unsigned char*>(p),
                                      size, items_, effect_);
            GlobalUnlock(medium.hGlobal);
          }
        }
        ReleaseStgMedium(&medium);
      }
      if (fe.ptd) CoTaskMemFree(fe.ptd);
    }
    formats->Release();
  }

  drop_handler* handler_ = nullptr;
  std::uint16_t format_ = 0;
  std::uint32_t effect_ = kDropEffectNone;
  drag_items items_;
};

IDropTargetImpl& target() {
  static IDropTargetImpl t;
  return t;
}

}  // namespace

void set_drop_handler(drop_handler* handler) { target().set_handler(handler); }

bool register_drop_target(qv::loop::window_handle window) {
  HWND w = static_cast<HWND>(window);
  if (!IsWindow(w)) return false;
  DragAcceptFiles(w, TRUE);
  HRESULT hr = RegisterDragDrop(w, &target());
  if (hr == DRAGDROP_E_ALREADYREGISTERED) {
    RevokeDragDrop(w);
    hr = RegisterDragDrop(w, &target());
  }
  return SUCCEEDED(hr);
}

void revoke_drop_target(qv::loop::window_handle window) {
  RevokeDragDrop(static_cast<HWND>(window));
}

void* drop_target_interface() { return static_cast<IDropTarget*>(&target()); }

qv::loop::window_handle window_from_point(int x, int y) {
  POINT p{x, y};
  return WindowFromPoint(p);
}

bool screen_to_client(qv::loop::window_handle window, int& x, int& y) {
  POINT p{x, y};
  if (!ScreenToClient(static_cast<HWND>(window), &p)) return false;
  x = p.x;
  y = p.y;
  return true;
}

}  // namespace desktop::os
