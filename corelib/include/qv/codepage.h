// The national code page 936 (GBK): download URLs, byte counts and pinyin initials are worked
// out in it, and contact CSV files are written in it.
#pragma once

#include <string>
#include <string_view>

namespace qv::codepage {

// Characters that the code page cannot express become "?".
std::string utf16_to_cp936(std::u16string_view s);
// Bytes that do not form a character of the code page are replaced (U+FFFD per bad byte on
// POSIX, the system's own replacement on Windows); never fails.
std::u16string cp936_to_utf16(std::string_view s);

}  // namespace qv::codepage
