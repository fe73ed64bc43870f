#include "qv/path.h"

namespace qv::path {

std::wstring to_native(const std::wstring& p) { return p; }
std::string to_native(const std::string& p) { return p; }
std::wstring to_windows_text(const std::wstring& p) { return p; }

std::wstring join_native(const std::wstring& native_dir, const std::wstring& name) {
  if (native_dir.empty() || native_dir.back() == L'\\' || native_dir.back() == L'/') return native_dir + name;
  return native_dir + L'\\' + name;
}

// A name here never holds "\" or "/".
bool has_windows_text(const std::wstring&) { return true; }

}  // namespace qv::path
