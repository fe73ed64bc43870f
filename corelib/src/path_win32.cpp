#include "qv/path.h"

namespace qv::path {

std::wstring to_native(const std::wstring& p) { return p; }
std::string to_native(const std::string& p) { return p; }
std::wstring to_windows_text(const std::wstring& p) { return p; }

}  // namespace qv::path
