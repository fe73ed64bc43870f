// Text conversions at the store's edges: the database holds UTF-16, Lua speaks UTF-8 and
// wchar_t is UTF-16 on Windows but UTF-32 elsewhere.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace store {

// Malformed input (bad UTF-8 sequences, lone surrogates, values above U+10FFFF) becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view s);
std::string utf16_to_utf8(std::u16string_view s);
std::u16string wide_to_utf16(std::wstring_view s);
std::wstring utf16_to_wide(std::u16string_view s);

// Paths without the standard library's own code conversions (which MinGW's runtime gets wrong
// for long paths): the native form is wide on Windows and UTF-8 elsewhere.
std::filesystem::path to_fs_path(std::u16string_view s);
std::u16string from_fs_path(const std::filesystem::path& p);
std::string fs_path_utf8(const std::filesystem::path& p);

}  // namespace store
