#include "hostbase/profile.h"

#include "qv/path.h"
#include "qv/text.h"

#include <cerrno>
#include <cstdio>

namespace hostbase {
namespace {

// Profile files are small; a runaway file is read no further than this.
constexpr std::size_t kMaxProfileBytes = 1u << 20;

// The file's bytes up to the bound; complete is false when the file is longer (or unreadable
// for another reason than being absent).
std::string read_profile(const std::string& native, bool& complete) {
  std::string bytes;
  complete = true;
  std::FILE* f = std::fopen(native.c_str(), "rb");
  if (!f) {
    complete = errno == ENOENT;
    return bytes;
  }
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (bytes.size() >= kMaxProfileBytes) {
      complete = false;
      break;
    }
    bytes.append(buf, n);
  }
  if (std::ferror(f)) complete = false;
  std::fclose(f);
  return bytes;
}

}  // namespace

std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& def_value, const std::wstring& file,
                               std::size_t max_chars) {
  bool complete = false;
  std::string bytes = read_profile(qv::text::wide_to_utf8(qv::path::to_native(file)), complete);
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  return ParseProfileString(qv::text::utf8_to_wide(bytes), section, key, def_value, max_chars);
}

bool WriteProfileEntry(const std::wstring& section, const std::wstring& key,
                        const std::wstring& value, const std::wstring& file) {
  if (file.empty()) return false;
  const std::string native = qv::text::wide_to_utf8(qv::path::to_native(file));
  bool complete = false;
  std::string bytes = read_profile(native, complete);
  // Rewriting a file that was only partly read would lose its tail.
  if (!complete) return false;
  const bool bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  if (bom) bytes.erase(0, 3);
  std::string out = qv::text::wide_to_utf8(
      SetProfileString(qv::text::utf8_to_wide(bytes), section, key, value));
  if (bom) out.insert(0, "\xEF\xBB\xBF");
  // Written beside the file and renamed over it, so a failed write leaves the old file whole.
  const std::string tmp = native + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed || std::rename(tmp.c_str(), native.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace hostbase
