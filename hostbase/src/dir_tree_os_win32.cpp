#include "dir_tree_os.h"

#include <windows.h>

namespace hostbase::os {
namespace {

std::wstring native(std::wstring s) {
  for (auto& c : s)
    if (c == L'/') c = L'\\';
  while (s.size() > 1 && s.back() == L'\\' && s[s.size() - 2] != L':') s.pop_back();
  return s;
}

// Closes a listing when it goes out of scope.
struct find_holder {
  HANDLE h;
  ~find_holder() {
    if (h != INVALID_HANDLE_VALUE) ::FindClose(h);
  }
};

}  // namespace

bool list_dir(const std::wstring& dir, std::vector<dir_entry>& out) {
  WIN32_FIND_DATAW fd{};
  find_holder h{::FindFirstFileW((native(dir) + L"\\*.*").c_str(), &fd)};
  if (h.h == INVALID_HANDLE_VALUE) return false;
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    dir_entry e;
    e.name = name;
    const bool folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e.is_link = (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    e.is_dir = folder && !e.is_link;
    e.link_to_dir = folder && e.is_link;
    e.target_is_dir = e.link_to_dir;
    if (!folder && !e.is_link)
      e.size = (static_cast<std::uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    out.push_back(std::move(e));
  } while (::FindNextFileW(h.h, &fd));
  return true;
}

bool is_real_dir(const std::wstring& path) {
  if (path.empty()) return false;
  const DWORD a = ::GetFileAttributesW(native(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (a & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool exists(const std::wstring& path) {
  return !path.empty() && ::GetFileAttributesW(native(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool remove_dir(const std::wstring& path) { return ::RemoveDirectoryW(native(path).c_str()) != 0; }

bool remove_link(const std::wstring& path, bool link_to_dir) {
  const std::wstring p = native(path);
  if (link_to_dir) {
    // A junction or folder link is removed as a folder; its target stays untouched. One that
    // is read-only loses that first.
    if (::RemoveDirectoryW(p.c_str())) return true;
    ::SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_DIRECTORY);
    return ::RemoveDirectoryW(p.c_str()) != 0;
  }
  return ::DeleteFileW(p.c_str()) != 0;
}

bool remove_file(const std::wstring& path) { return ::DeleteFileW(native(path).c_str()) != 0; }

void make_deletable(const std::wstring& path, bool) {
  ::SetFileAttributesW(native(path).c_str(), FILE_ATTRIBUTE_NORMAL);
}

void set_thread_error(std::uint32_t code) { ::SetLastError(code); }

}  // namespace hostbase::os
