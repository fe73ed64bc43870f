#include "dir_tree_fixture.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace hostbase::test {

bool make_dir_link(const fs::path& target, const fs::path& link) {
  return ::symlink(target.c_str(), link.c_str()) == 0;
}

void make_read_only(const fs::path& p) {
  struct stat st {};
  if (::stat(p.c_str(), &st) == 0) ::chmod(p.c_str(), st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH));
}

std::uint32_t thread_error() { return static_cast<std::uint32_t>(errno); }
void clear_thread_error() { errno = 0; }

}  // namespace hostbase::test
