#include "hostbase/dir_tree.h"

#include "dir_tree_os.h"

#include "qv/path.h"

#include <vector>

namespace hostbase {
namespace {

bool is_thumbs_db(const std::wstring& name) {
  static const wchar_t kName[] = L"thumbs.db";
  if (name.size() != 9) return false;
  for (std::size_t i = 0; i < 9; ++i) {
    wchar_t c = name[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != kName[i]) return false;
  }
  return true;
}

// dir is in the system's form; each name is joined to it as listed, never split again.
void delete_contents(const std::wstring& dir) {
  std::vector<os::dir_entry> entries;
  if (!os::list_dir(dir, entries)) return;
  for (const auto& e : entries) {
    const std::wstring child = qv::path::join_native(dir, e.name);
    if (e.is_link) {
      // What a link points to is not part of this tree.
      os::remove_link(child, e.link_to_dir);
    } else if (e.is_dir) {
      os::make_deletable(child, true);
      delete_contents(child);
      os::remove_dir(child);
    } else {
      if (!is_thumbs_db(e.name)) os::make_deletable(child, false);
      os::remove_file(child);
    }
  }
}

}  // namespace

bool ListDir(const std::wstring& dir, std::vector<DirEntry>& out) {
  return !dir.empty() && os::list_dir(qv::path::to_native(dir), out);
}

bool ListNativeDir(const std::wstring& native_dir, std::vector<DirEntry>& out) {
  return !native_dir.empty() && os::list_dir(native_dir, out);
}

bool DeleteDirTree(const std::wstring& path) {
  const std::wstring dir = qv::path::to_native(path);
  if (dir.empty() || !os::is_real_dir(dir)) {
    os::set_thread_error(kDirTreeInvalidArgument);
    return false;
  }
  delete_contents(dir);
  os::remove_dir(dir);
  return !os::exists(dir);
}

bool DeleteEmptyDir(const std::wstring& path) {
  std::wstring dir = qv::path::to_native(path);
  while (dir.size() > 1 && (dir.back() == L'/' || dir.back() == L'\\') &&
         dir[dir.size() - 2] != L':')
    dir.pop_back();
  return !dir.empty() && os::remove_dir(dir);
}

}  // namespace hostbase
