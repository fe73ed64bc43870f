// The shell functions' parts that need no system and no Lua.
#include "shell_helpers.h"

#include "qv/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(ShellHelpers, SplitStringSkipsEmptyPieces) {
  using V = std::vector<std::string>;
  const struct {
    std::string text, delimiter;
    V pieces;
  } cases[] = {
      {"a,,b,", ",", {"a", "b"}},
      {",a", ",", {"a"}},
      {"abc", ",", {"abc"}},
      {"", ",", {}},
      {"a,b", "", {}},
      {",,,", ",", {}},
      {"a::b:c", "::", {"a", "b:c"}},
      {"a:::b", "::", {"a", ":b"}},
      {"x--y----z--", "--", {"x", "y", "z"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(desktop::SplitString(c.text, c.delimiter), c.pieces) << c.text << " / " << c.delimiter;
}

TEST(ShellHelpers, ProfileIntegerReadsLeadingDecimal) {
  const struct {
    std::wstring value;
    int n;
  } cases[] = {
      {L"42", 42},       {L"  -7", -7},  {L"+3", 3},
      {L"12abc", 12},    {L"abc", 0},    {L"0x10", 0},
      {L"-", 0},         {L"4294967295", -1}, {L"4294967296", 0},
      {L"2147483648", -2147483647 - 1},
  };
  for (const auto& c : cases) EXPECT_EQ(desktop::ProfileInteger(c.value), c.n);
}

TEST(ShellHelpers, ShowStateNamesAreExactAndUpperCase) {
  const struct {
    const char* name;
    int value;
  } cases[] = {
      {"SW_HIDE", 0},           {"SW_SHOWNORMAL", 1},     {"SW_SHOWMINIMIZED", 2},
      {"SW_MAXIMIZE", 3},       {"SW_SHOWMAXIMIZED", 3},  {"SW_SHOWNOACTIVATE", 4},
      {"SW_SHOW", 5},           {"SW_MINIMIZE", 6},       {"SW_SHOWMINNOACTIVE", 7},
      {"SW_SHOWNA", 8},         {"SW_RESTORE", 9},        {"SW_SHOWDEFAULT", 10},
      // Lower case, blanks and prefixes are other text, which hides the window.
      {"sw_maximize", 0},       {"sw_showmaximized", 0},  {"Sw_Show", 0},
      {"SW_SHOW ", 0},          {"SW_SHOWN", 0},          {"", 0},
      {"SW_NORMAL", 0},         {"3", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(desktop::ShowStateValue(c.name), c.value) << c.name;
}

TEST(ShellHelpers, RegistryRootsWithoutRegardToCase) {
  const struct {
    const char* name;
    int any, query;
  } cases[] = {
      {"HKEY_CURRENT_USER", 0, 0},   {"hkey_current_user", 0, 0}, {"HKEY_CLASSES_ROOT", 1, 1},
      {"Hkey_Local_Machine", 2, 2},  {"HKEY_USERS", 3, 3},        {"HKEY_CURRENT_CONFIG", 4, -1},
      {"hkey_current_config", 4, -1}, {"HKCU", -1, -1},           {"HKEY_CURRENT_USER\\x", -1, -1},
      {"", -1, -1},                  {"HKEY_DYN_DATA", -1, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(desktop::RegistryRoot(c.name, true), c.any) << c.name;
    EXPECT_EQ(desktop::RegistryRoot(c.name, false), c.query) << c.name;
  }
}

TEST(ShellHelpers, FilePatternsMatchAsTheListingDoes) {
  const struct {
    const wchar_t* name;
    const wchar_t* pattern;
    bool match;
  } cases[] = {
      {L"a.txt", L"*.txt", true},     {L"a.TXT", L"*.txt", true},   {L"a.txt.bak", L"*.txt", false},
      {L"a.txt", L"*.*", true},       {L"noext", L"*.*", true},     {L"noext", L"*", true},
      {L"noext", L"noext.*", true},   {L"noext.x", L"noext.*", true}, {L"other", L"noext.*", false},
      {L"ab.dat", L"?b.dat", true},   {L"b.dat", L"?b.dat", false}, {L"abc", L"a*c", true},
      {L"abxbc", L"a*bc", true},      {L"ab", L"a*bc", false},      {L"x", L"", false},
      {L"\u00C4pfel.txt", L"\u00E4pfel.*", true},
      {L"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", L"*a*a*a*a*a*a*a*a*a*a*c", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(desktop::MatchesFilePattern(c.name, c.pattern), c.match)
        << qv::text::wide_to_utf8(c.name) << " ~ " << qv::text::wide_to_utf8(c.pattern);
}

TEST(ShellHelpers, FolderBrowserStartsAtTheLongestExistingPart) {
  auto exists = [](const std::wstring& p) {
    return p == L"C:" || p == L"C:\\Data" || p == L"C:\\Data\\Photos";
  };
  const struct {
    const wchar_t* initial;
    const wchar_t* start;
  } cases[] = {
      {L"C:\\Data\\Photos", L"C:\\Data\\Photos\\"},
      {L"C:\\Data\\Photos\\2020\\May", L"C:\\Data\\Photos\\"},
      {L"C:\\Data\\Gone", L"C:\\Data\\"},
      {L"C:\\Nothing", L"C:\\"},
      {L"Q:\\x", L""},
      {L"", L""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(desktop::FolderDialogStart(c.initial, exists), c.start)
        << qv::text::wide_to_utf8(c.initial);
}
