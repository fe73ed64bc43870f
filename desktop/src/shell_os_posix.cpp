#include "shell_os.h"

#include "qv/path.h"
#include "qv/text.h"

#include <sys/statvfs.h>

#include <cstdlib>
#include <ctime>

namespace desktop::os {

std::uint32_t tick_count() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
}

std::wstring temp_dir() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = (env && *env) ? env : "/tmp";
  if (dir.back() != '/') dir += '/';
  return qv::text::utf8_to_wide(dir);
}

bool disk_space(const std::wstring& path, std::uint64_t& total, std::uint64_t& free) {
  struct statvfs st {};
  if (path.empty() ||
      statvfs(qv::text::wide_to_utf8(qv::path::to_native(path)).c_str(), &st) != 0)
    return false;
  total = static_cast<std::uint64_t>(st.f_blocks) * st.f_frsize;
  free = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
  return true;
}

}  // namespace desktop::os
