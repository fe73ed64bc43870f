#include "shell_os.h"

#include <windows.h>

#include <vector>

namespace desktop::os {

std::uint32_t tick_count() { return ::GetTickCount(); }

std::wstring temp_dir() {
  std::vector<wchar_t> buf(MAX_PATH + 1);
  const DWORD n = GetTempPathW(static_cast<DWORD>(buf.size()), buf.data());
  if (n == 0 || n >= buf.size()) return std::wstring();
  return std::wstring(buf.data(), n);
}

bool disk_space(const std::wstring& path, std::uint64_t& total, std::uint64_t& free) {
  // A removable drive without a medium must not bring up the system's error box.
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  ULARGE_INTEGER avail{}, all{}, all_free{};
  const BOOL ok = GetDiskFreeSpaceExW(path.c_str(), &avail, &all, &all_free);
  SetErrorMode(old_mode);
  if (!ok) return false;
  total = all.QuadPart;
  free = avail.QuadPart;
  return true;
}

}  // namespace desktop::os
