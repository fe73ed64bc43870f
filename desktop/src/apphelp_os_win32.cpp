#include "apphelp_os.h"

#include <windows.h>

#include <algorithm>

namespace desktop::os {
namespace {

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

class handle_guard {
 public:
  explicit handle_guard(HANDLE h) : h_(h) {}
  ~handle_guard() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  handle_guard(const handle_guard&) = delete;
  handle_guard& operator=(const handle_guard&) = delete;
  HANDLE get() const { return h_; }
  bool close() {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h == INVALID_HANDLE_VALUE || CloseHandle(h) != 0;
  }

 private:
  HANDLE h_;
};

}  // namespace

bool write_file_atomic(const std::u16string& target, const std::string& bytes) {
  const std::u16string tmp = target + u".tmp";
  handle_guard f(CreateFileW(w(tmp), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (f.get() == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    ok = WriteFile(f.get(), bytes.data() + done, chunk, &written, nullptr) && written == chunk;
    done += written;
  }
  ok = ok && FlushFileBuffers(f.get());
  ok = f.close() && ok;
  ok = ok && MoveFileExW(w(tmp), w(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileW(w(tmp));
  return ok;
}

bool create_empty_file(const std::u16string& path) {
  handle_guard f(CreateFileW(w(path), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  return f.get() != INVALID_HANDLE_VALUE && f.close();
}

bool replace_file(const std::u16string& replacement, const std::u16string& target) {
  return ReplaceFileW(w(target), w(replacement), nullptr, REPLACEFILE_WRITE_THROUGH, nullptr,
                      nullptr) != 0;
}

bool place_new_file(const std::u16string& source, const std::u16string& target) {
  return MoveFileExW(w(source), w(target), MOVEFILE_WRITE_THROUGH) != 0;
}

bool move_at_restart(const std::u16string& source, const std::u16string& target) {
  return MoveFileExW(w(source), w(target),
                     MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != 0;
}

// The system's own test; UTF-16 whose only evidence is the statistics is not taken when the
// bytes hold a lead byte of the double-byte code page, as they may as well be that code page.
bool looks_like_utf16(const std::string& bytes) {
  if (bytes.size() < 2 || bytes.size() > 0x7FFFFFFF) return false;
  INT flags = IS_TEXT_UNICODE_UNICODE_MASK;
  if (!IsTextUnicode(bytes.data(), static_cast<int>(bytes.size()), &flags)) return false;
  if ((flags & IS_TEXT_UNICODE_UNICODE_MASK) == IS_TEXT_UNICODE_STATISTICS) {
    for (unsigned char c : bytes)
      if (IsDBCSLeadByteEx(936, c)) return false;
  }
  return true;
}

bool local_time(std::tm& out) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  out = std::tm{};
  out.tm_year = st.wYear - 1900;
  out.tm_mon = st.wMonth - 1;
  out.tm_mday = st.wDay;
  out.tm_hour = st.wHour;
  out.tm_min = st.wMinute;
  out.tm_sec = st.wSecond;
  return true;
}

void set_app_icon(void* window, int icon_id) {
  HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(icon_id));
  SendMessageW(static_cast<HWND>(window), WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(icon));
}

}  // namespace desktop::os
