#include "clipboard_os.h"

#include <windows.h>

#include <shlobj.h>

#include <cstring>

namespace desktop::os {
namespace {

UINT format_number(clip_format f) {
  switch (f) {
    case clip_format::unicode_text:
      return CF_UNICODETEXT;
    case clip_format::hdrop:
      return CF_HDROP;
    case clip_format::preferred_drop_effect:
      return RegisterClipboardFormatW(CFSTR_PREFERREDDROPEFFECT);
  }
  return 0;
}

class clipboard_session {
 public:
  explicit clipboard_session(qv::loop::window_handle owner)
      : open_(OpenClipboard(static_cast<HWND>(owner)) != 0) {}
  ~clipboard_session() {
    if (open_) CloseClipboard();
  }
  clipboard_session(const clipboard_session&) = delete;
  clipboard_session& operator=(const clipboard_session&) = delete;
  bool open() const { return open_; }

 private:
  bool open_;
};

// The block's bytes, as many as the memory holds.
bool copy_global(HGLOBAL h, std::vector<unsigned char>& out) {
  const SIZE_T size = GlobalSize(h);
  const void* p = GlobalLock(h);
  if (!p) return false;
  out.assign(static_cast<const unsigned char*>(p), static_cast<const unsigned char*>(p) + size);
  GlobalUnlock(h);
  return true;
}

}  // namespace

bool read_clipboard(qv::loop::window_handle owner, const std::vector<clip_format>& formats,
                    clip_blocks& blocks) {
  clipboard_session session(owner);
  if (!session.open()) return false;
  for (clip_format f : formats) {
    const UINT number = format_number(f);
    if (!number || !IsClipboardFormatAvailable(number)) continue;
    HANDLE h = GetClipboardData(number);
    std::vector<unsigned char> bytes;
    if (h && copy_global(static_cast<HGLOBAL>(h), bytes)) blocks[f] = std::move(bytes);
  }
  return true;
}

bool write_clipboard(qv::loop::window_handle owner, clip_format format,
                     const std::vector<unsigned char>& block) {
  const UINT number = format_number(format);
  if (!number) return false;
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, block.empty() ? 1 : block.size());
  if (!h) return false;
  void* p = GlobalLock(h);
  if (!p) {
    GlobalFree(h);
    return false;
  }
  if (!block.empty()) std::memcpy(p, block.data(), block.size());
  GlobalUnlock(h);
  clipboard_session session(owner);
  // Once SetClipboardData takes the block, the system owns it.
  if (!session.open() || !EmptyClipboard() || !SetClipboardData(number, h)) {
    GlobalFree(h);
    return false;
  }
  return true;
}

}  // namespace desktop::os
