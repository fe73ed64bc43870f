#include "qv/command_line.h"

namespace qv::cmdline {
namespace {

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Position just past the program argument.
std::size_t skip_program(const std::wstring& line, std::wstring* program) {
  std::size_t i = 0;
  if (i < line.size() && line[i] == L'"') {
    ++i;
    while (i < line.size() && line[i] != L'"') {
      if (program) program->push_back(line[i]);
      ++i;
    }
    if (i < line.size()) ++i;  // the closing quote
  } else {
    while (i < line.size() && !is_blank(line[i])) {
      if (program) program->push_back(line[i]);
      ++i;
    }
  }
  return i;
}

}  // namespace

std::vector<std::wstring> split_command_line(const std::wstring& line) {
  std::vector<std::wstring> args;
  std::size_t i = 0;
  while (i < line.size() && is_blank(line[i])) ++i;
  if (i == line.size()) return args;

  // Leading blanks are skipped rather than read as an empty program name.
  std::wstring program;
  i += skip_program(line.substr(i), &program);
  args.push_back(program);

  while (i < line.size() && is_blank(line[i])) ++i;
  if (i == line.size()) return args;

  std::wstring cur;
  int quotes = 0;        // quote state as counted by the system: 0 outside, 1 inside
  std::size_t slashes = 0;
  while (i < line.size()) {
    wchar_t c = line[i];
    if (is_blank(c) && quotes == 0) {
      args.push_back(cur);
      cur.clear();
      while (i < line.size() && is_blank(line[i])) ++i;
      slashes = 0;
      if (i == line.size()) return args;
      continue;
    }
    if (c == L'\\') {
      cur.push_back(c);
      ++slashes;
      ++i;
      continue;
    }
    if (c == L'"') {
      if (slashes % 2 == 0) {
        cur.resize(cur.size() - slashes / 2);
        ++quotes;
      } else {
        cur.resize(cur.size() - slashes / 2 - 1);
        cur.push_back(L'"');
      }
      ++i;
      slashes = 0;
      // A run of quotes: every third one is a literal quote.
      while (i < line.size() && line[i] == L'"') {
        if (++quotes == 3) {
          cur.push_back(L'"');
          quotes = 0;
        }
        ++i;
      }
      if (quotes == 2) quotes = 0;
      continue;
    }
    cur.push_back(c);
    slashes = 0;
    ++i;
  }
  args.push_back(cur);
  return args;
}

std::wstring quote_argument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
    } else if (c == L'"') {
      out.append(slashes + 1, L'\\');  // double the run, escape the quote
      slashes = 0;
    } else {
      slashes = 0;
    }
    out.push_back(c);
  }
  out.append(slashes, L'\\');  // a run before the closing quote is doubled
  out.push_back(L'"');
  return out;
}

std::wstring quote_switch_argument(const std::wstring& arg) {
  if (!arg.empty() && (arg[0] == L'-' || arg[0] == L'/')) {
    const std::size_t colon = arg.find(L':');
    if (colon != std::wstring::npos && colon + 1 < arg.size() &&
        arg.find_first_of(L" \t\n\v\"") > colon)
      return arg.substr(0, colon + 1) + quote_argument(arg.substr(colon + 1));
  }
  return quote_argument(arg);
}

std::wstring join_shell_words(const std::vector<std::wstring>& words) {
  std::wstring line;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::wstring& word = words[i];
    if (i == 0) {
      line = quote_argument(word);
      continue;
    }
    line += L' ';
    // The shell removes the quotes it reads; any left in a word are the person's own, written
    // for the Windows rules, and quoting them again would make them literal characters.
    line += word.find(L'"') != std::wstring::npos ? word : quote_switch_argument(word);
  }
  return line;
}

std::wstring command_line_tail(const std::wstring& line) {
  std::size_t i = 0;
  while (i < line.size() && is_blank(line[i])) ++i;
  i += skip_program(line.substr(i), nullptr);
  while (i < line.size() && is_blank(line[i])) ++i;
  return line.substr(i);
}

}  // namespace qv::cmdline
