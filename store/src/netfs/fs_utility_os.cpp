// The parts of the system interface that hostbase already knows: one copy in the program.
#include "fs_utility_os.h"

#include "hostbase/path_manager.h"
#include "qv/path.h"

namespace store::os {

std::wstring exe_path() { return qv::path::to_native(hostbase::GetExePath()); }

std::wstring temp_dir() {
  std::wstring dir = qv::path::to_native(hostbase::GetSystemTempDir());
  // Without its trailing separator, as the other system folders here.
  while (dir.size() > 1 && (dir.back() == L'\\' || dir.back() == L'/') &&
         dir[dir.size() - 2] != L':')
    dir.pop_back();
  return dir;
}

}  // namespace store::os
