#include "dir_tree_fixture.h"

#include <fstream>

namespace hostbase::test {

fs::path scratch::file(const std::string& relative, const std::string& text) const {
  const fs::path p = root() / fs::u8path(relative);
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
  return p;
}

fs::path scratch::dir(const std::string& relative) const {
  const fs::path p = root() / fs::u8path(relative);
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
