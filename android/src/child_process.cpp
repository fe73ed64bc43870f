// What child processes share on every system: the folder programs are looked for first.
#include "android/child_process.h"

#include "hostbase/path_manager.h"
#include "qv/path.h"

namespace tiv::android {

std::wstring executable_directory() {
  const std::wstring dir = hostbase::GetModuleDir();
  return qv::path::to_native(dir.empty() ? std::wstring(L".\\") : dir);
}

}  // namespace tiv::android
