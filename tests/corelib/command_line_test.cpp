// Command lines by the Windows rules: the POSIX process layer splits them, and the start-up and
// the restart of the program build them.
#include <gtest/gtest.h>

#include "qv/command_line.h"

using qv::cmdline::command_line_tail;
using qv::cmdline::quote_argument;
using qv::cmdline::quote_switch_argument;
using qv::cmdline::split_command_line;
using args = std::vector<std::wstring>;

TEST(CommandLine, SplitsByTheWindowsRules) {
  const struct {
    const wchar_t* line;
    args expected;
  } cases[] = {
      // The lines the ADB surface builds: doubled blanks, quoted serials and paths.
      {L"tivorel_help.exe  devices", {L"tivorel_help.exe", L"devices"}},
      {L"tivorel_help.exe -s \"emulator-5554\" uninstall \"com.example.app\"",
       {L"tivorel_help.exe", L"-s", L"emulator-5554", L"uninstall", L"com.example.app"}},
      {L"tivorel_help.exe  -s \"10.0.0.2:5555\" install -r \"C:\\My Apps\\a b.apk\"",
       {L"tivorel_help.exe", L"-s", L"10.0.0.2:5555", L"install", L"-r", L"C:\\My Apps\\a b.apk"}},
      {L"tivorel_help.exe  -s \"X\" forward tcp:12156 tcp:12156",
       {L"tivorel_help.exe", L"-s", L"X", L"forward", L"tcp:12156", L"tcp:12156"}},
      // Blanks: tabs count, runs collapse, trailing blanks add nothing.
      {L"p\ta \t b  ", {L"p", L"a", L"b"}},
      {L"", {}},
      {L"   ", {}},
      {L"p", {L"p"}},
      // The program: quotes only, no escapes.
      {L"\"C:\\Program Files\\x.exe\" a", {L"C:\\Program Files\\x.exe", L"a"}},
      {L"\"a\\\"b c", {L"a\\", L"b", L"c"}},
      {L"C:\\dir\\p.exe a", {L"C:\\dir\\p.exe", L"a"}},
      // Backslashes only matter before a quote.
      {L"p a\\\\b", {L"p", L"a\\\\b"}},
      {L"p a\\\\\\\"b", {L"p", L"a\\\"b"}},
      {L"p \"a\\\\\" b", {L"p", L"a\\", L"b"}},
      {L"p a\\\"b", {L"p", L"a\"b"}},
      // Quoted parts join words and may be empty.
      {L"p \"\" x", {L"p", L"", L"x"}},
      {L"p a\"b c\"d", {L"p", L"ab cd"}},
      {L"p \"open to the end", {L"p", L"open to the end"}},
      // Runs of quotes: every third one is literal.
      {L"p \"a\"\"b\"", {L"p", L"a\"b"}},
      {L"p \"\"\"\"", {L"p", L"\""}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, split_command_line(c.line)) << std::string(c.line, c.line + wcslen(c.line));
  }
}

TEST(CommandLine, QuotedArgumentsComeBackUnchanged) {
  const wchar_t* samples[] = {L"plain", L"", L"two words", L"tab\there", L"q\"uote",
                              L"C:\\dir with space\\", L"a\\\\\"b", L"\\\\server\\share\\"};
  for (const wchar_t* s : samples) {
    const args got = split_command_line(L"p " + quote_argument(s) + L" end");
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ(std::wstring(s), got[1]);
    EXPECT_EQ(L"end", got[2]);
  }
}

TEST(CommandLine, SwitchValuesAreQuotedBehindTheColon) {
  const struct {
    const wchar_t* arg;
    const wchar_t* quoted;
  } cases[] = {
      {L"-url:a b", L"-url:\"a b\""},
      {L"/path:C:\\x y\\", L"/path:\"C:\\x y\\\\\""},
      {L"-flag", L"-flag"},
      {L"-empty:", L"-empty:"},
      {L"-\"odd name\":v", L"\"-\\\"odd name\\\":v\""},  // a blank before the colon: quoted whole
      {L"plain word", L"\"plain word\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::wstring(c.quoted), quote_switch_argument(c.arg));
    const args got = split_command_line(L"p " + quote_switch_argument(c.arg) + L" end");
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ(std::wstring(c.arg), got[1]);
  }
}

TEST(CommandLine, TailKeepsTheArgumentsAsWritten) {
  EXPECT_EQ(L"-s \"a b\"  devices", command_line_tail(L"tivorel_help.exe  -s \"a b\"  devices"));
  EXPECT_EQ(L"x", command_line_tail(L"\"C:\\a b\\c.exe\" x"));
  EXPECT_EQ(L"", command_line_tail(L"c.exe"));
  EXPECT_EQ(L"", command_line_tail(L""));
}
