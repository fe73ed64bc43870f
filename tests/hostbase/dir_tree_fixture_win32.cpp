#include "dir_tree_fixture.h"

#include <windows.h>

namespace hostbase::test {

bool make_dir_link(const fs::path& target, const fs::path& link) {
  return ::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) != 0;
}

void make_read_only(const fs::path& p) {
  const DWORD a = ::GetFileAttributesW(p.c_str());
  if (a != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(p.c_str(), a | FILE_ATTRIBUTE_READONLY);
}

std::uint32_t thread_error() { return ::GetLastError(); }
void clear_thread_error() { ::SetLastError(0); }

}  // namespace hostbase::test
