// Percent-encoding of bytes for a URL, by the rule each caller names.
#pragma once

#include <string>

namespace qv::text {

// Which bytes percent-encoding leaves as they are.
enum class url_keep {
  path_text,   // digits, ASCII letters, "/" and "." (the shell's URLEncode)
  unreserved,  // digits, ASCII letters, "-", ".", "_" and "~" (a query value of a request)
};
// Every byte the rule does not keep becomes "%" and two upper-case hexadecimal digits.
std::string url_encode(const std::string& bytes, url_keep keep);

}  // namespace qv::text
