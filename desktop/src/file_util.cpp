#include "file_util.h"

#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;

namespace desktop {

fs::path NativePath(std::u16string text) {
  if (fs::path::preferred_separator == '/') std::replace(text.begin(), text.end(), u'\\', u'/');
  return fs::path(text);
}

std::optional<std::string> ReadWholeFile(const std::u16string& path, std::size_t limit) {
  std::error_code ec;
  const fs::path p = NativePath(path);
  if (!fs::is_regular_file(p, ec)) return std::nullopt;
  const auto size = fs::file_size(p, ec);
  if (ec || size > limit) return std::nullopt;
  std::ifstream in(p, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<std::size_t>(in.gcount()) != bytes.size()) return std::nullopt;
  return bytes;
}

std::u16string WithSeparator(std::u16string dir) {
  if (!dir.empty() && dir.back() != u'\\' && dir.back() != u'/') dir.push_back(u'\\');
  return dir;
}

}  // namespace desktop
