// Command lines as one string, split into arguments by the Windows rules (those of
// CommandLineToArgvW), so that one command line means the same arguments on every target.
#pragma once

#include <string>
#include <vector>

namespace qv::cmdline {

// Splits a command line. The first argument (the program) ends at the next blank, or at the
// closing quote when it starts with one, and knows no backslash escapes. Later arguments follow
// the backslash/quote rules: 2n backslashes before a quote give n backslashes and the quote
// opens or closes a quoted part; 2n+1 give n backslashes and a literal quote; backslashes not
// before a quote stay as they are; inside a quoted part, a doubled quote is a literal quote.
// Blanks are space and tab. An empty or all-blank line gives no arguments.
std::vector<std::wstring> split_command_line(const std::wstring& line);

// Quotes one argument so that split_command_line gives it back unchanged (not for the program).
std::wstring quote_argument(const std::wstring& arg);

// The same for a switch with a value ("-url:a b"), quoted behind its colon ("-url:\"a b\""): the
// same argument by the Windows rules, and the form in which the program's switch reader takes
// the whole value. Any other argument is quoted whole.
std::wstring quote_switch_argument(const std::wstring& arg);

// One command line from words that a POSIX shell has already split, the program first: each word
// quoted as above (the program whole), except a word that holds a quote, which is joined as
// written, so that "-url:\"a b\"" reaches the switch reader as it would on Windows.
std::wstring join_shell_words(const std::vector<std::wstring>& words);

// The rest of a command line after its program argument and the blanks behind it, unchanged.
std::wstring command_line_tail(const std::wstring& line);

}  // namespace qv::cmdline
