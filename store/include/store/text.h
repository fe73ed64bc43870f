// Text conversions at the store's edges: the database holds UTF-16, Lua speaks UTF-8 and
// wchar_t is UTF-16 on Windows but UTF-32 elsewhere.
#pragma once

#include <string>
#include <string_view>

namespace store {

// Malformed input (bad UTF-8 sequences, lone surrogates, values above U+10FFFF) becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view s);
std::string utf16_to_utf8(std::u16string_view s);
std::u16string wide_to_utf16(std::wstring_view s);
std::wstring utf16_to_wide(std::u16string_view s);

}  // namespace store
