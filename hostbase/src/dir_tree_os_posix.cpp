#include "dir_tree_os.h"

#include "qv/text.h"

#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostbase::os {
namespace {

// The path as it stands ("\" is a character of a name here), without trailing "/".
std::string native(const std::wstring& path) {
  std::string s = qv::text::wide_to_utf8(path);
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// Closes a listing when it goes out of scope.
struct dir_holder {
  DIR* d;
  ~dir_holder() {
    if (d) ::closedir(d);
  }
};

}  // namespace

bool list_dir(const std::wstring& dir, std::vector<dir_entry>& out) {
  const std::string base = native(dir);
  dir_holder h{::opendir(base.c_str())};
  if (!h.d) return false;
  while (const dirent* e = ::readdir(h.d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    dir_entry item;
    item.name = qv::text::utf8_to_wide(name);
    struct stat st {};
    if (::lstat((base + "/" + name).c_str(), &st) == 0) {
      item.is_link = S_ISLNK(st.st_mode);
      item.is_dir = S_ISDIR(st.st_mode);
      if (S_ISREG(st.st_mode)) item.size = static_cast<std::uint64_t>(st.st_size);
      struct stat target {};
      item.target_is_dir = item.is_link && ::stat((base + "/" + name).c_str(), &target) == 0 &&
                           S_ISDIR(target.st_mode);
    }
    out.push_back(std::move(item));
  }
  return true;
}

bool is_real_dir(const std::wstring& path) {
  struct stat st {};
  return !path.empty() && ::lstat(native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::wstring& path) {
  struct stat st {};
  return !path.empty() && ::lstat(native(path).c_str(), &st) == 0;
}

bool remove_dir(const std::wstring& path) { return ::rmdir(native(path).c_str()) == 0; }

bool remove_link(const std::wstring& path, bool) { return ::unlink(native(path).c_str()) == 0; }

bool remove_file(const std::wstring& path) { return ::unlink(native(path).c_str()) == 0; }

void make_deletable(const std::wstring& path, bool is_dir) {
  // Deleting an entry needs write (and search) permission on its folder, not on the entry; a
  // folder's own mode matters for what is inside it.
  struct stat st {};
  const std::string p = native(path);
  if (::lstat(p.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return;
  ::chmod(p.c_str(), st.st_mode | S_IRUSR | S_IWUSR | (is_dir ? S_IXUSR : 0));
}

void set_thread_error(std::uint32_t code) { errno = static_cast<int>(code); }

}  // namespace hostbase::os
