#include "android/device_database.h"

#include "qv/scrambled_container.h"

namespace tiv::android {

const wchar_t* const kAdbClientFileName = L"tivorel_help.exe";
const char* const kDeviceDatabaseFileName = "tivorel_help.devdb";

std::string LoadDeviceDatabaseDocument(const std::wstring& program_dir) {
  std::vector<std::uint8_t> container = LoadDeviceDatabaseContainer(program_dir);
  if (container.empty()) return {};
  return qv::container::ReadScrambledDocument(container);
}

}  // namespace tiv::android
