#include "xml_os.h"

#include <system_error>

namespace qv::xml::os {

// rename(2) replaces the target atomically.
bool replace_file(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code ec;
  std::filesystem::rename(from, to, ec);
  return !ec;
}

}  // namespace qv::xml::os
