#include "path_manager_os.h"

#include "qv/command_line.h"
#include "qv/text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace hostbase::os {
namespace {
thread_local unsigned long t_last_error = 0;

std::wstring from_env(const char* name, const char* fallback_suffix, const char* fallback_base) {
  const char* v = std::getenv(name);
  if (v && *v) return qv::text::utf8_to_wide(v);
  if (!fallback_base) return {};
  const char* base = std::getenv(fallback_base);
  if (!base || !*base) return {};
  return qv::text::utf8_to_wide(std::string(base) + fallback_suffix);
}
}  // namespace

std::wstring command_line() {
  std::ifstream f("/proc/self/cmdline", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::wstring line;
  std::size_t pos = 0;
  while (pos < raw.size()) {
    std::size_t end = raw.find('\0', pos);
    if (end == std::string::npos) end = raw.size();
    if (!line.empty()) line += L' ';
    line += qv::cmdline::quote_switch_argument(qv::text::utf8_to_wide(raw.substr(pos, end - pos)));
    pos = end + 1;
  }
  return line;
}

std::wstring module_file_name() {
  char buf[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return {};
  return qv::text::utf8_to_wide(buf, static_cast<std::size_t>(n));
}

std::wstring system_temp_path() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = t && *t ? t : "/tmp";
  if (dir.back() != '/') dir += '/';
  return qv::text::utf8_to_wide(dir);
}

std::wstring user_data_path() { return from_env("XDG_DATA_HOME", "/.local/share", "HOME"); }

std::wstring common_data_path() { return L"/var/lib"; }

std::wstring environment(const char* name) {
  const char* v = std::getenv(name);
  return v ? qv::text::utf8_to_wide(v) : std::wstring();
}

bool make_dir(const std::wstring& path) {
  std::string p = qv::text::wide_to_utf8(path);
  while (!p.empty() && p.back() == '/') p.pop_back();
  if (p.empty()) return false;
  if (mkdir(p.c_str(), 0755) == 0) return true;
  struct stat st {};
  return errno == EEXIST && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void set_last_error(unsigned long code) {
  t_last_error = code;
}

unsigned long last_error() { return t_last_error; }

}  // namespace hostbase::os
