#include "hostbase/volume.h"

#include "hostbase/mount_table.h"
#include "qv/text.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <climits>
#include <cstdlib>

namespace hostbase {
namespace {

// The path itself when it exists, else its nearest existing parent. A relative path with no
// existing part is held by the current folder.
std::string nearest_existing(const std::wstring& path) {
  std::string p = qv::text::wide_to_utf8(path);
  for (char& c : p)
    if (c == '\\') c = '/';
  struct stat st {};
  while (!p.empty() && ::stat(p.c_str(), &st) != 0) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p == "/") break;
    const std::size_t slash = p.rfind('/');
    p = slash == std::string::npos ? std::string() : p.substr(0, slash == 0 ? 1 : slash);
  }
  return p.empty() ? std::string(".") : p;
}

}  // namespace

bool VolumeSpace(const std::wstring& path, std::uint64_t& total, std::uint64_t& available) {
  struct statvfs st {};
  if (path.empty() || ::statvfs(nearest_existing(path).c_str(), &st) != 0) return false;
  total = static_cast<std::uint64_t>(st.f_blocks) * st.f_frsize;
  available = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
  return true;
}

std::wstring VolumeFormat(const std::wstring& path) {
  char resolved[PATH_MAX];
  if (path.empty() || !::realpath(nearest_existing(path).c_str(), resolved)) return {};
  const std::vector<MountEntry> table = ReadMountTable("/proc/self/mounts");
  const MountEntry* holder = MountHolding(table, resolved);
  return holder ? qv::text::utf8_to_wide(holder->type) : std::wstring();
}

}  // namespace hostbase
