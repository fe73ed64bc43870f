#include "qv/path.h"

#include <algorithm>

namespace qv::path {

std::wstring to_native(const std::wstring& p) {
  std::wstring r = p;
  std::replace(r.begin(), r.end(), L'\\', L'/');
  return r;
}

std::string to_native(const std::string& p) {
  std::string r = p;
  std::replace(r.begin(), r.end(), '\\', '/');
  return r;
}

std::wstring to_windows_text(const std::wstring& p) {
  std::wstring r = p;
  std::replace(r.begin(), r.end(), L'/', L'\\');
  return r;
}

std::wstring join_native(const std::wstring& native_dir, const std::wstring& name) {
  if (native_dir.empty() || native_dir.back() == L'/') return native_dir + name;
  return native_dir + L'/' + name;
}

bool has_windows_text(const std::wstring& native) { return native.find(L'\\') == std::wstring::npos; }

}  // namespace qv::path
