// UTF-8 at the process boundary, UTF-16 (or UTF-32 where wchar_t is 32 bits) inside.
#pragma once

#include <cstddef>
#include <string>

namespace tiv::android {

// Invalid sequences become U+FFFD, as the system converter does without strict flags.
std::wstring from_utf8(const std::string& s);
std::string to_utf8(const std::wstring& s);

// The longest prefix of s no longer than max_bytes that does not end inside a multi-byte
// sequence. Bytes that are not valid UTF-8 are treated as single units.
std::size_t utf8_prefix_length(const char* s, std::size_t size, std::size_t max_bytes);

}  // namespace tiv::android
