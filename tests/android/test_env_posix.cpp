#include "test_env.h"

#include "qv/path.h"
#include "qv/text.h"

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace tiv::android::test {

void set_env(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

void unset_env(const std::string& name) { ::unsetenv(name.c_str()); }

void prepend_path(const std::wstring& dir) {
  const char* old = std::getenv("PATH");
  set_env("PATH", qv::text::wide_to_utf8(dir) + (old ? std::string(":") + old : std::string()));
}

unsigned long process_number() { return static_cast<unsigned long>(::getpid()); }

bool process_ended(unsigned long pid) {
  if (pid == 0 || ::kill(static_cast<pid_t>(pid), 0) != 0) return true;
  // The state follows the name in parentheses: "Z" is a process that ended.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const std::size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'Z';
}

void end_process(unsigned long pid) {
  if (pid != 0) ::kill(static_cast<pid_t>(pid), SIGKILL);
}

}  // namespace tiv::android::test

namespace tiv::android::test {

bool has_windows_installers() { return false; }
int expected_driver_platform() { return 1; }

std::optional<bool> started_mark(const std::wstring& target) {
  struct stat st {};
  if (::stat(qv::text::wide_to_utf8(qv::path::to_native(target)).c_str(), &st) != 0) return std::nullopt;
  return (st.st_mode & S_IXUSR) != 0;
}

}  // namespace tiv::android::test
