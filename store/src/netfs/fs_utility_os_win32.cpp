#include "fs_utility_os.h"

#include <windows.h>
#include <shlobj.h>

namespace store::os {

namespace {

std::wstring without_trailing_separator(std::wstring s) {
  while (s.size() > 1 && (s.back() == L'\\' || s.back() == L'/') && s[s.size() - 2] != L':')
    s.pop_back();
  return s;
}

std::wstring special_folder(int csidl) {
  wchar_t buf[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf))) return {};
  return without_trailing_separator(buf);
}

std::wstring module_file(HMODULE module) {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, &buf[0], static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

bool is_dir(const std::wstring& path) {
  if (path.empty()) return false;
  const DWORD a = ::GetFileAttributesW(without_trailing_separator(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool exists(const std::wstring& path) {
  return !path.empty() &&
         ::GetFileAttributesW(without_trailing_separator(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::int64_t file_size(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA d{};
  if (path.empty() || !::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d) ||
      (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return -1;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) |
                                   d.nFileSizeLow);
}

bool make_dir(const std::wstring& path) {
  return !path.empty() && ::CreateDirectoryW(path.c_str(), nullptr) != 0;
}

std::wstring current_dir() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  std::wstring buf(n, L'\0');
  const DWORD got = ::GetCurrentDirectoryW(n, &buf[0]);
  buf.resize(got);
  return buf;
}

bool set_current_dir(const std::wstring& path) {
  return ::SetCurrentDirectoryW(path.c_str()) != 0;
}

std::wstring module_path() {
  HMODULE self = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&module_path), &self))
    return {};
  return module_file(self);
}

std::wstring common_appdata_dir() { return special_folder(CSIDL_COMMON_APPDATA); }
std::wstring appdata_dir() { return special_folder(CSIDL_APPDATA); }

void set_last_error(std::uint32_t code) { ::SetLastError(code); }

std::wstring to_path_text(const std::wstring& native) { return native; }

}  // namespace store::os
