#include "hostbase/volume.h"

#include <windows.h>

#include <vector>

namespace hostbase {
namespace {

// Switches the system's critical-error box off while a query runs.
class quiet_errors {
 public:
  quiet_errors() : old_(SetErrorMode(SEM_FAILCRITICALERRORS)) {}
  ~quiet_errors() { SetErrorMode(old_); }
  quiet_errors(const quiet_errors&) = delete;
  quiet_errors& operator=(const quiet_errors&) = delete;

 private:
  UINT old_;
};

// The path itself when it is an existing folder, else its nearest existing parent folder (the
// query takes folders only); empty when none exists.
std::wstring nearest_existing(std::wstring p) {
  for (wchar_t& c : p)
    if (c == L'/') c = L'\\';
  auto is_folder = [](const std::wstring& f) {
    const DWORD a = GetFileAttributesW(f.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  };
  while (!p.empty() && !is_folder(p)) {
    while (!p.empty() && p.back() == L'\\') p.pop_back();
    const std::size_t slash = p.rfind(L'\\');
    if (slash == std::wstring::npos) return {};
    p.resize(slash + 1);  // "C:\" keeps its separator, which a drive root needs
  }
  return p;
}

}  // namespace

bool VolumeSpace(const std::wstring& path, std::uint64_t& total, std::uint64_t& available) {
  quiet_errors quiet;
  const std::wstring where = nearest_existing(path);
  ULARGE_INTEGER avail{}, all{}, all_free{};
  if (where.empty() || !GetDiskFreeSpaceExW(where.c_str(), &avail, &all, &all_free)) return false;
  total = all.QuadPart;
  available = avail.QuadPart;
  return true;
}

std::wstring VolumeFormat(const std::wstring& path) {
  quiet_errors quiet;
  const std::wstring where = nearest_existing(path);
  std::vector<wchar_t> root(MAX_PATH + 1);
  if (where.empty() ||
      !GetVolumePathNameW(where.c_str(), root.data(), static_cast<DWORD>(root.size())))
    return {};
  wchar_t fs[MAX_PATH + 1] = {};
  if (!GetVolumeInformationW(root.data(), nullptr, 0, nullptr, nullptr, nullptr, fs, MAX_PATH + 1))
    return {};
  return fs;
}

}  // namespace hostbase
