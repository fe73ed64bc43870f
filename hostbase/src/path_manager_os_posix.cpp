#include "path_manager_os.h"

#include "qv/command_line.h"
#include "qv/text.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

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
  std::vector<std::wstring> words;
  std::size_t pos = 0;
  while (pos < raw.size()) {
    std::size_t end = raw.find('\0', pos);
    if (end == std::string::npos) end = raw.size();
    words.push_back(qv::text::utf8_to_wide(raw.substr(pos, end - pos)));
    pos = end + 1;
  }
  return qv::cmdline::join_shell_words(words);
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

namespace {

std::string without_trailing_slashes(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// Narrows the mode of the folder that lstat described, through a descriptor that cannot have
// followed a link put in its place since.
bool narrow_to_owner(const std::string& path, const struct stat& seen) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat now {};
  const bool ok = ::fstat(fd, &now) == 0 && now.st_dev == seen.st_dev && now.st_ino == seen.st_ino &&
                  ::fchmod(fd, 0700) == 0;
  ::close(fd);
  return ok;
}

// Makes the folder with mode 0700, or takes the existing one when it is a real folder of this
// user (its mode narrowed to 0700). Otherwise gives why not.
bool own_private_folder(const std::string& path, std::string& why) {
  if (path.find('\\') != std::string::npos) {
    why = "its path holds \"\\\", which the program's path text reads as a separator";
    return false;
  }
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    why = std::error_code(errno, std::generic_category()).message();
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    why = std::error_code(errno, std::generic_category()).message();
  else if (S_ISLNK(st.st_mode))
    why = "it is a link";
  else if (!S_ISDIR(st.st_mode))
    why = "it is not a folder";
  else if (st.st_uid != ::geteuid())
    why = "it belongs to user " + std::to_string(st.st_uid);
  else if ((st.st_mode & 07777) != 0700 && !narrow_to_owner(path, st))
    why = "its mode cannot be narrowed to 0700";
  else
    return true;
  return false;
}

}  // namespace

// Another local user must not be able to plant files where the program keeps its temporary
// files, or make that folder lead elsewhere: only a folder of this user alone is used.
std::wstring app_temp_dir() {
  const std::string uid = std::to_string(::geteuid());
  std::vector<std::string> candidates;
  if (const char* t = std::getenv("TMPDIR"); t && *t)
    candidates.push_back(without_trailing_slashes(t) + "/Tivorel-" + uid);
  if (const char* r = std::getenv("XDG_RUNTIME_DIR"); r && *r)
    candidates.push_back(without_trailing_slashes(r) + "/Tivorel");
  candidates.push_back("/tmp/Tivorel-" + uid);
  std::string refused;
  std::string chosen;
  for (const auto& c : candidates) {
    std::string why;
    if (own_private_folder(c, why)) {
      chosen = c;
      break;
    }
    refused += "  " + c + " is not used: " + why + "\n";
  }
  // Said once for each outcome, not at every log line that asks for the folder.
  static std::mutex lock;
  static std::string last_said;
  {
    std::lock_guard<std::mutex> guard(lock);
    const std::string outcome = refused + chosen;
    if (!refused.empty() && outcome != last_said) {
      std::fprintf(stderr, "[paths] temporary folder:\n%s  %s\n", refused.c_str(),
                   chosen.empty() ? "none is left: the program keeps no temporary files or logs"
                                  : ("using " + chosen).c_str());
      std::fflush(stderr);
    }
    last_said = outcome;
  }
  return chosen.empty() ? std::wstring() : qv::text::utf8_to_wide(chosen + "/");
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
