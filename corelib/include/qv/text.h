// UTF-8 <-> wide text. Wide strings are UTF-16 where wchar_t has 16 bits (Windows) and code
// points where it has 32. Malformed input becomes U+FFFD; it never fails.
#pragma once

#include <cstddef>
#include <string>

namespace qv::text {

std::wstring utf8_to_wide(const char* s, std::size_t n);
inline std::wstring utf8_to_wide(const std::string& s) { return utf8_to_wide(s.data(), s.size()); }
std::string wide_to_utf8(const std::wstring& w);
// The bytes as they are when they are well-formed UTF-8; otherwise each malformed sequence
// becomes U+FFFD, exactly as a trip through wide text would make it.
std::string valid_utf8(std::string s);

// Wide text <-> UTF-16 code units (what shared blocks and files of the Windows format hold).
std::u16string wide_to_utf16(const std::wstring& w);
std::wstring utf16_to_wide(const std::u16string& u);

// UTF-8 <-> UTF-16 code units on every target.
std::u16string utf8_to_utf16(const char* s, std::size_t n);
inline std::u16string utf8_to_utf16(const std::string& s) {
  return utf8_to_utf16(s.data(), s.size());
}
std::string utf16_to_utf8(const std::u16string& u);

// The longest prefix of s no longer than max_bytes that does not end inside a multi-byte
// sequence. Bytes that are not valid UTF-8 are treated as single units.
std::size_t utf8_prefix_length(const char* s, std::size_t size, std::size_t max_bytes);

// "%XY" sequences (two hex digits) as the bytes they stand for; anything else, including a "%"
// without two hex digits after it, is copied as it is. Never reads past the end.
std::string percent_decode(const std::string& text);

}  // namespace qv::text
