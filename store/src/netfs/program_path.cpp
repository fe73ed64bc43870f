// The program's file for the filesystem utilities, as hostbase knows it: one copy in the program.
#include "fs_utility_os.h"

#include "hostbase/path_manager.h"
#include "qv/path.h"

namespace store::os {

std::wstring exe_path() { return qv::path::to_native(hostbase::GetExePath()); }

}  // namespace store::os
