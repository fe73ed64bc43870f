// Paths keep the Windows text form ("\" separators, trailing "\") everywhere the program hands
// them around; the OS layers turn them into what the system expects.
#pragma once

#include <string>

namespace qv::path {

// The path as the system wants it: unchanged on Windows; on POSIX every "\" becomes "/".
std::wstring to_native(const std::wstring& p);
std::string to_native(const std::string& p);
// The Windows text form of a system path: on POSIX every "/" becomes "\".
std::wstring to_windows_text(const std::wstring& p);

}  // namespace qv::path
