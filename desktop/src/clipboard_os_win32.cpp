#include "clipboard_os.h"
#include "clipboard_os_win32.h"

#include <windows.h>

#include <shlobj.h>

#include <cstring>
#include <vector>

namespace desktop::os {
namespace testing {
HANDLE(WINAPI* set_clipboard_data)(UINT, HANDLE) = ::SetClipboardData;
}  // namespace testing

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

// A movable global block holding a copy of bytes; freed unless handed over.
class global_block {
 public:
  explicit global_block(const std::vector<unsigned char>& bytes)
      : h_(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes.empty() ? 1 : bytes.size())) {
    void* p = h_ ? GlobalLock(h_) : nullptr;
    if (!p) {
      reset();
      return;
    }
    if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    GlobalUnlock(h_);
  }
  ~global_block() { reset(); }
  global_block(const global_block&) = delete;
  global_block& operator=(const global_block&) = delete;
  HGLOBAL get() const { return h_; }
  void release() { h_ = nullptr; }

 private:
  void reset() {
    if (h_) GlobalFree(h_);
    h_ = nullptr;
  }
  HGLOBAL h_;
};

// Whether a format's data is a handle that cannot be copied here: bitmaps and palettes, which
// the system makes again from the device-independent bitmap it also offers; old metafiles,
// which it makes from the enhanced one; and handles whose meaning only their owner knows.
bool uncopyable(UINT format) {
  switch (format) {
    case CF_BITMAP:
    case CF_DSPBITMAP:
    case CF_PALETTE:
    case CF_METAFILEPICT:
    case CF_DSPMETAFILEPICT:
    case CF_OWNERDISPLAY:
      return true;
    default:
      return (format >= CF_PRIVATEFIRST && format <= CF_PRIVATELAST) ||
             (format >= CF_GDIOBJFIRST && format <= CF_GDIOBJLAST);
  }
}

// What the open clipboard holds, copied, so that it can be put back when new data cannot be
// set after the clipboard was emptied.
class clipboard_copy {
 public:
  clipboard_copy() = default;
  ~clipboard_copy() {
    for (const item& i : items_)
      if (i.metafile) DeleteEnhMetaFile(i.metafile);
  }
  clipboard_copy(const clipboard_copy&) = delete;
  clipboard_copy& operator=(const clipboard_copy&) = delete;

  void take() {
    for (UINT f = EnumClipboardFormats(0); f; f = EnumClipboardFormats(f)) {
      if (uncopyable(f)) continue;
      HANDLE h = GetClipboardData(f);
      if (!h) continue;
      item i{f, {}, nullptr};
      if (f == CF_ENHMETAFILE || f == CF_DSPENHMETAFILE) {
        i.metafile = CopyEnhMetaFileW(static_cast<HENHMETAFILE>(h), nullptr);
        if (!i.metafile) continue;
      } else if (!copy_global(static_cast<HGLOBAL>(h), i.bytes)) {
        continue;
      }
      items_.push_back(std::move(i));
    }
  }

  // Onto the emptied clipboard, in the order it held them.
  void put_back() {
    for (item& i : items_) {
      if (i.metafile) {
        if (SetClipboardData(i.format, i.metafile)) i.metafile = nullptr;
        continue;
      }
      global_block block(i.bytes);
      if (block.get() && SetClipboardData(i.format, block.get())) block.release();
    }
  }

 private:
  struct item {
    UINT format;
    std::vector<unsigned char> bytes;  // a global block's content
    HENHMETAFILE metafile;             // or an enhanced metafile
  };
  std::vector<item> items_;
};

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
  global_block data(block);
  if (!data.get()) return false;
  clipboard_session session(owner);
  if (!session.open()) return false;
  clipboard_copy before;
  before.take();
  if (!EmptyClipboard()) return false;
  if (testing::set_clipboard_data(number, data.get())) {
    data.release();  // the system owns it now
    return true;
  }
  // Not taken after all: the person's clipboard is not left empty.
  before.put_back();
  return false;
}

}  // namespace desktop::os
