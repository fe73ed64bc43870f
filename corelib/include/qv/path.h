// Paths keep the Windows text form ("\" separators, trailing "\") everywhere the program hands
// them around; the OS layers turn them into what the system expects.
#pragma once

#include <filesystem>
#include <string>

namespace qv::path {

// The path as the system wants it: unchanged on Windows; on POSIX every "\" becomes "/".
std::wstring to_native(const std::wstring& p);
std::string to_native(const std::string& p);
// The Windows text form of a system path: on POSIX every "/" becomes "\".
std::wstring to_windows_text(const std::wstring& p);

// Separators are converted once, where a path comes in as text; what the system lists is its
// own. A listed name is joined to the folder it was listed in, in the system's form, and never
// split again: on POSIX "\" is an ordinary character of a name.
std::wstring join_native(const std::wstring& native_dir, const std::wstring& name);
// Whether a name or path the system gave reads back as the same thing from Windows path text:
// false on POSIX when it holds "\", which to_native would turn into a separator.
bool has_windows_text(const std::wstring& native);

// Text <-> std::filesystem::path without the standard library's own code conversions (which
// MinGW's runtime gets wrong for long paths): the native form is wide on Windows and UTF-8
// elsewhere. The separators are left as they are.
std::filesystem::path to_fs_path(const std::wstring& p);
std::filesystem::path to_fs_path(const std::u16string& p);
std::wstring from_fs_path(const std::filesystem::path& p);
std::u16string fs_path_utf16(const std::filesystem::path& p);
std::string fs_path_utf8(const std::filesystem::path& p);

}  // namespace qv::path
