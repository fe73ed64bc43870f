// The container is the client's resource "MYCURSOR" / 101, read from the executable loaded as a
// data file (its code never runs in this process).
#include "android/device_database.h"

#include <windows.h>

namespace tiv::android {

std::vector<std::uint8_t> LoadDeviceDatabaseContainer(const std::wstring& program_dir) {
  // Only the program folder counts: no search of the current folder or the PATH.
  if (program_dir.empty()) return {};
  std::wstring path = program_dir;
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
  path += kAdbClientFileName;
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return {};
  std::vector<std::uint8_t> bytes;
  if (HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(101), L"MYCURSOR")) {
    DWORD size = SizeofResource(module, res);
    HGLOBAL loaded = LoadResource(module, res);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (data && size > 0) {
      const auto* p = static_cast<const std::uint8_t*>(data);
      bytes.assign(p, p + size);
    }
  }
  FreeLibrary(module);
  return bytes;
}

}  // namespace tiv::android
