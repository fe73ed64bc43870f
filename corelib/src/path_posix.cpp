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

}  // namespace qv::path
