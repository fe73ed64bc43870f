// "Win32Shell.Object" of class "Win32Shell.Class": shell and system functions for the Lua code.
#pragma once

#include "qv_engine.h"

#include <string>
#include <vector>

namespace desktop {

void RegisterWin32Shell(QVLRT_ENV env);

// Digits, ASCII letters, "/" and "." stay; every other byte becomes %XX (upper-case hex).
std::string UrlEncode(const std::string& bytes);

// The non-empty pieces between whole-string delimiters; empty text or delimiter gives none.
std::vector<std::string> SplitString(const std::string& text, const std::string& delimiter);

// The leading decimal integer of an INI value as the profile functions read it: blanks and a
// sign may lead, the digits wrap at 32 bits, 0 when there are none.
int ProfileInteger(const std::wstring& value);

}  // namespace desktop
