#include "hostbase/profile.h"

#include "qv/path.h"
#include "qv/text.h"

#include <cstdio>

namespace hostbase {

std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& def_value, const std::wstring& file,
                               std::size_t max_chars) {
  std::string bytes;
  if (std::FILE* f = std::fopen(qv::text::wide_to_utf8(qv::path::to_native(file)).c_str(), "rb")) {
    char buf[4096];
    std::size_t n;
    // Profile files are small; a runaway file is read no further than this.
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && bytes.size() < (1u << 20))
      bytes.append(buf, n);
    std::fclose(f);
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  return ParseProfileString(qv::text::utf8_to_wide(bytes), section, key, def_value, max_chars);
}

}  // namespace hostbase
