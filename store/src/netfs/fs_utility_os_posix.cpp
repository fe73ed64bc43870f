#include "fs_utility_os.h"

#include "qv/text.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace store::os {

namespace {

std::string native(const std::wstring& path) {
  std::string s = qv::text::wide_to_utf8(path);
  for (auto& c : s)
    if (c == '\\') c = '/';
  return s;
}

std::wstring wide(const std::string& s) { return qv::text::utf8_to_wide(s); }

std::string strip_trailing_slashes(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

bool is_dir(const std::wstring& path) {
  struct stat st {};
  return !path.empty() && ::stat(native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::wstring& path) {
  struct stat st {};
  return !path.empty() && ::stat(native(path).c_str(), &st) == 0;
}

std::int64_t file_size(const std::wstring& path) {
  struct stat st {};
  if (path.empty() || ::stat(native(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool make_dir(const std::wstring& path) {
  return !path.empty() && ::mkdir(strip_trailing_slashes(native(path)).c_str(), 0755) == 0;
}

bool remove_dir(const std::wstring& path) {
  return ::rmdir(strip_trailing_slashes(native(path)).c_str()) == 0;
}

bool remove_file(const std::wstring& path) { return ::unlink(native(path).c_str()) == 0; }

void make_deletable(const std::wstring& path, bool is_dir) {
  struct stat st {};
  const std::string p = native(path);
  if (::lstat(p.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return;
  ::chmod(p.c_str(), st.st_mode | S_IRUSR | S_IWUSR | (is_dir ? S_IXUSR : 0));
}

std::wstring current_dir() {
  char buf[PATH_MAX];
  return ::getcwd(buf, sizeof buf) ? wide(buf) : std::wstring();
}

bool set_current_dir(const std::wstring& path) { return ::chdir(native(path).c_str()) == 0; }

// The code is linked statically into the program, so the module is the executable.
std::wstring module_path() { return exe_path(); }

std::wstring common_appdata_dir() { return L"/var/lib"; }

std::wstring appdata_dir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg) return wide(strip_trailing_slashes(xdg));
  const char* home = std::getenv("HOME");
  if (!home || !*home) return {};
  return wide(strip_trailing_slashes(home)) + L"/.local/share";
}

namespace {

// The path itself when it exists, else its nearest existing parent: the file system that would
// hold the path. A relative path with no existing part is held by the current folder's.
std::string nearest_existing(const std::wstring& path) {
  std::string p = native(path);
  struct stat st {};
  while (!p.empty() && ::stat(p.c_str(), &st) != 0) {
    p = strip_trailing_slashes(p);
    if (p == "/") break;
    const std::size_t slash = p.rfind('/');
    p = slash == std::string::npos ? std::string() : p.substr(0, slash == 0 ? 1 : slash);
  }
  return p.empty() ? std::string(".") : p;
}

}  // namespace

bool partition_space(const std::wstring& path, std::uint64_t& total, std::uint64_t& available) {
  struct statvfs st {};
  if (path.empty() || ::statvfs(nearest_existing(path).c_str(), &st) != 0) return false;
  total = static_cast<std::uint64_t>(st.f_blocks) * st.f_frsize;
  available = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
  return true;
}

// The type of the mount that holds the path: the longest mount point that is a prefix of it.
std::wstring partition_format(const std::wstring& path) {
  char resolved[PATH_MAX];
  if (path.empty() || !::realpath(nearest_existing(path).c_str(), resolved)) return {};
  const std::string where = resolved;
  std::ifstream mounts("/proc/self/mounts");
  std::string line, best_point, best_type;
  while (std::getline(mounts, line)) {
    std::istringstream in(line);
    std::string device, point, type;
    if (!(in >> device >> point >> type)) continue;
    const bool inside = point == "/" || where == point ||
                        (where.compare(0, point.size(), point) == 0 && where[point.size()] == '/');
    if (inside && point.size() >= best_point.size()) {
      best_point = point;
      best_type = type;
    }
  }
  return wide(best_type);
}

void set_last_error(std::uint32_t code) { errno = static_cast<int>(code); }

std::wstring to_path_text(const std::wstring& native_path) {
  std::wstring s = native_path;
  for (auto& c : s)
    if (c == L'/') c = L'\\';
  return s;
}

}  // namespace store::os
