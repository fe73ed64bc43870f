// Reading and writing INI files ("config.ini") with the rules of the Windows profile functions: section and
// key names compared without regard to case, blanks around keys and values ignored, one pair of
// matching quotes around a value removed, at most max_chars characters returned.
#pragma once

#include <cstddef>
#include <string>

namespace hostbase {

// The value of key in section of the file, or def_value when the file, the section or the key
// (with a value) is missing.
std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& def_value, const std::wstring& file,
                               std::size_t max_chars);

// The same lookup over the text of an INI file.
std::wstring ParseProfileString(const std::wstring& text, const std::wstring& section,
                                const std::wstring& key, const std::wstring& def_value,
                                std::size_t max_chars);

// Sets key in section of the file to value (leading blanks dropped), creating the file, the
// section or the key as needed; false when the file cannot be read whole or written.
bool WriteProfileEntry(const std::wstring& section, const std::wstring& key,
                        const std::wstring& value, const std::wstring& file);

// The same change applied to the text of an INI file: the first matching key of the first
// matching section keeps its name and gets the value; a new key goes after the section's last
// entry; a new section goes at the end.
std::wstring SetProfileString(const std::wstring& text, const std::wstring& section,
                              const std::wstring& key, const std::wstring& value);

}  // namespace hostbase
