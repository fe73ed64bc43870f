// Small text utilities of the application services object.
#pragma once

#include <cstddef>
#include <string>

namespace desktop {

// Percent-decoding of bytes: "%" and two hexadecimal digits give that byte; a "%" without two
// digits behind it stays as it is; "+" is not changed.
std::string URLDecode(const std::string& text);

// Length in bytes of UTF-8 text converted to code page 936.
std::size_t Cp936ByteCount(const std::string& utf8);

// Pinyin initials of code page 936 text: first-level characters by their area, second-level
// characters from the generated table, every other byte unchanged.
std::string PinyinInitialsCp936(const std::string& cp936);
// The same for UTF-8 text (converted to code page 936 and back).
std::string ConvertChinese(const std::string& utf8);

// The generated table: one byte per second-level character (rows 0xD8 to 0xF7, 94 each).
constexpr std::size_t kSecondLevelCount = 3008;
extern const char kSecondLevelInitials[kSecondLevelCount + 1];

}  // namespace desktop
