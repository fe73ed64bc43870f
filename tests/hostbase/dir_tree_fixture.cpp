#include "dir_tree_fixture.h"

#include <atomic>
#include <chrono>
#include <system_error>

namespace hostbase::test {

scratch::scratch() {
  static std::atomic<int> n{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  root_ = fs::temp_directory_path() /
          ("tivorel_tree_" + std::to_string(stamp) + "_" + std::to_string(++n));
  fs::create_directories(root_);
}

scratch::~scratch() {
  std::error_code ec;
  // Make everything writable again so that the scratch folder can go.
  for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (!it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(root_, ec);
}

fs::path scratch::file(const std::string& relative, const std::string& text) const {
  const fs::path p = root_ / fs::u8path(relative);
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
  return p;
}

fs::path scratch::dir(const std::string& relative) const {
  const fs::path p = root_ / fs::u8path(relative);
  fs::create_directories(p);
  return p;
}

std::wstring scratch::text(const fs::path& p) {
  std::wstring s = p.wstring();
  for (auto& c : s)
    if (c == L'/') c = L'\\';
  return s;
}

}  // namespace hostbase::test
