// Command lines as one string (as the ADB runner and the shell functions build them), split into
// arguments by the Windows rules (those of CommandLineToArgvW), so that one command line means the
// same arguments on every target.
#pragma once

#include <string>
#include <vector>

namespace qv {

// Splits a command line. The first argument (the program) ends at the next blank, or at the
// closing quote when it starts with one, and knows no backslash escapes. Later arguments follow
// the backslash/quote rules: 2n backslashes before a quote give n backslashes and the quote
// opens or closes a quoted part; 2n+1 give n backslashes and a literal quote; backslashes not
// before a quote stay as they are; inside a quoted part, a doubled quote is a literal quote.
// Blanks are space and tab. An empty or all-blank line gives no arguments.
std::vector<std::wstring> split_command_line(const std::wstring& line);

// Quotes one argument so that split_command_line gives it back unchanged (not for the program).
std::wstring quote_argument(const std::wstring& arg);

// The rest of a command line after its program argument and the blanks behind it, unchanged.
std::wstring command_line_tail(const std::wstring& line);

}  // namespace qv
