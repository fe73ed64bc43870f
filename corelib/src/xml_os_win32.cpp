#include "xml_os.h"

#include <windows.h>

namespace qv::xml::os {

// The C runtime's rename refuses an existing target; MoveFileExW replaces it.
bool replace_file(const std::filesystem::path& from, const std::filesystem::path& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace qv::xml::os
