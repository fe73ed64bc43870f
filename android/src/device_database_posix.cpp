// The Linux port keeps the client's container as a file beside it.
#include "android/device_database.h"

#include "qv/text.h"

#include <fstream>
#include <iterator>

namespace tiv::android {
namespace {
// A container is a few kilobytes; anything far larger is not one.
constexpr std::streamoff kMaxContainerBytes = 64LL * 1024 * 1024;
}  // namespace

std::vector<std::uint8_t> LoadDeviceDatabaseContainer(const std::wstring& program_dir) {
  // Only the program folder counts: no search of the current folder or the PATH.
  if (program_dir.empty()) return {};
  std::string dir = qv::text::wide_to_utf8(program_dir);
  for (char& c : dir)
    if (c == '\\') c = '/';
  if (!dir.empty() && dir.back() != '/') dir += '/';
  std::ifstream in(dir + kDeviceDatabaseFileName, std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size <= 0 || size > kMaxContainerBytes) return {};
  in.seekg(0, std::ios::beg);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) return {};
  return bytes;
}

}  // namespace tiv::android
