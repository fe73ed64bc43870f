#include "fs_utility_os.h"

#include "qv/text.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
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

void set_last_error(std::uint32_t code) { errno = static_cast<int>(code); }

std::wstring to_path_text(const std::wstring& native_path) {
  std::wstring s = native_path;
  for (auto& c : s)
    if (c == L'/') c = L'\\';
  return s;
}

}  // namespace store::os
