#include "desktop/win32_shell.h"
#include "test_files.h"

#include "hostbase/profile.h"
#include "qv/message_loop.h"
#include "qv/text.h"

#include <gtest/gtest.h>

#include <lauxlib.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

lua_State* state() { return QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0)); }

// Runs the code; the value of the global "result" as a string ("" when the code raised).
std::string run(const std::string& code) {
  static const bool registered = (desktop::RegisterWin32Shell(QVLRT_GetEnv(0)), true);
  (void)registered;
  lua_State* L = state();
  const int top = lua_gettop(L);
  EXPECT_EQ(luaL_loadstring(L, code.c_str()), 0);
  if (QVLRT_LuaCall(L, 0, 0, "test") != 0) return "";
  lua_getglobal(L, "result");
  std::string r = lua_isstring(L, -1) ? lua_tostring(L, -1) : "(not a string)";
  lua_settop(L, top);
  return r;
}

TEST(Win32Shell, TicksAndEndsTheLoop) {
  EXPECT_EQ(run("local t = _G['Win32Shell.Object']:GetTickCount() "
                "result = type(t) .. tostring(t >= 0 and t == math.floor(t))"),
            "numbertrue");
  // With "." the exit code is argument 1; with ":" it is the object, which reads as 0.
  EXPECT_EQ(run("_G['Win32Shell.Object'].PostQuitMessage(3) result = ''"), "");
  EXPECT_EQ(qv::loop::run(), 3);
  EXPECT_EQ(run("_G['Win32Shell.Object']:PostQuitMessage(5) result = ''"), "");
  EXPECT_EQ(qv::loop::run(), 0);
}

TEST(Win32Shell, UrlEncodeKeepsOnlyDigitsLettersSlashAndDot) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"a b-c", "a%20b%2Dc"},
      {"", ""},
      {"AZaz09/.", "AZaz09/."},
      {"_~:?=&%+", "%5F%7E%3A%3F%3D%26%25%2B"},
      {"\xC3\xA9", "%C3%A9"},
      {std::string("a\0b", 3), "a%00b"},
      {"\xFF", "%FF"},
  };
  for (const auto& c : cases) EXPECT_EQ(desktop::UrlEncode(c.in), c.out) << c.in;
}

TEST(Win32Shell, SplitStringSkipsEmptyPieces) {
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

TEST(Win32Shell, ProfileIntegerReadsLeadingDecimal) {
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

TEST(Win32Shell, SetProfileStringFollowsTheProfileRules) {
  const struct {
    const wchar_t* text;
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* value;
    const wchar_t* result;
  } cases[] = {
      // The key keeps its spelling; section and key match without regard to case.
      {L"[Main]\r\nName = old\r\n", L"main", L"NAME", L"new", L"[Main]\r\nName=new\r\n"},
      // A new key goes after the section's last entry, before blank lines and the next section.
      {L"[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n", L"a", L"z", L"3",
       L"[a]\r\nx=1\r\nz=3\r\n\r\n[b]\r\ny=2\r\n"},
      {L"[a]\r\n[b]\r\n", L"a", L"k", L"v", L"[a]\r\nk=v\r\n[b]\r\n"},
      // A new section goes at the end; a last line without an ending gets one.
      {L"[a]\r\nx=1", L"b", L"k", L"v", L"[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
      {L"", L"s", L"k", L"v", L"[s]\r\nk=v\r\n"},
      {L"[a]\nx=1\n", L"a", L"y", L"2", L"[a]\nx=1\ny=2\n"},
      // Only the first section of a name and the first key of a name count.
      {L"[a]\r\nk=1\r\nk=2\r\n[A]\r\nk=3\r\n", L"a", L"k", L"9",
       L"[a]\r\nk=9\r\nk=2\r\n[A]\r\nk=3\r\n"},
      {L"[a]\r\nx=1\r\n[A]\r\nk=3\r\n", L"a", L"k", L"9",
       L"[a]\r\nx=1\r\nk=9\r\n[A]\r\nk=3\r\n"},
      // Leading blanks of the value are dropped; names are trimmed.
      {L"", L" s ", L" k ", L"  v w", L"[s]\r\nk=v w\r\n"},
      // A key of the same name in another section is left alone.
      {L"[b]\r\nk=1\r\n", L"a", L"k", L"2", L"[b]\r\nk=1\r\n[a]\r\nk=2\r\n"},
  };
  for (const auto& c : cases) {
    const std::wstring out = hostbase::SetProfileString(c.text, c.section, c.key, c.value);
    EXPECT_EQ(out, c.result) << std::string(out.begin(), out.end());
    // What was written reads back.
    std::wstring v = c.value;
    v.erase(0, v.find_first_not_of(L' '));
    EXPECT_EQ(hostbase::ParseProfileString(out, c.section, c.key, L"-", 4096), v);
  }
}

TEST(Win32Shell, PureMethodsFromLua) {
  const std::string obj = "local o = _G['Win32Shell.Object'] ";
  EXPECT_EQ(run(obj + "result = o:URLEncode('a b-c')"), "a%20b%2Dc");
  EXPECT_EQ(run(obj + "local t = o:SplitString('a,,b,', ',') result = #t .. t[1] .. t[2]"),
            "2ab");
  EXPECT_EQ(run(obj + "result = #o:SplitString('', ',') .. #o:SplitString('abc', '')"), "00");
  EXPECT_EQ(run(obj + "result = o:GetDataMD5('abc') .. o:GetDataMD5('')"),
            "900150983CD24FB0D6963F7D28E17F72D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(run(obj + "result = o:GetDataMD5('a\\0b')"), "70350F6027BCE3713F6B76473084309B");
  // Missing text raises the argument error (the helper then gives "").
  for (const char* call : {"o:URLEncode()", "o:SplitString('a')", "o:GetDataMD5()",
                           "o:ReadINI('f', 's')", "o:ReadINIInteger('f')",
                           "o:WriteINI('s', 'k', 'v')", "o:GetDiskFreeSpace()"})
    EXPECT_EQ(run(obj + call + " result = 'no error'"), "") << call;
}

TEST(Win32Shell, IniFilesFromLua) {
  tiv_test_files::TempDir tmp;
  // Written with a backslash before the name, which both targets accept.
  const std::string file = tmp.path().generic_string() + "\\app.ini";
  const std::string set = "local o = _G['Win32Shell.Object'] local f = [[" + file + "]] ";
  // "Nothing" is no result at all, not nil.
  EXPECT_EQ(run(set + "result = select('#', o:ReadINI(f, 's', 'k'))"), "0");
  EXPECT_EQ(run(set + "result = tostring(o:ReadINIInteger(f, 's', 'n', 17))"), "17");
  EXPECT_EQ(run(set + "o:WriteINI('Main', 'Name', 'first value', f) "
                      "o:WriteINI('main', 'Count', '  -12', f) "
                      "o:WriteINI('MAIN', 'name', 'second', f) "
                      "o:WriteINI('Other', 'Empty', '', f) "
                      "result = o:ReadINI(f, 'main', 'NAME') .. '|' .. "
                      "o:ReadINIInteger(f, 'Main', 'count', 5) .. '|' .. "
                      "select('#', o:ReadINI(f, 'other', 'empty')) .. '|' .. "
                      "o:ReadINIInteger(f, 'other', 'empty', 5) .. '|' .. "
                      "o:ReadINIInteger(f, 'main', 'name', 5)"),
            "second|-12|0|5|0");
  // The file is one the other target's reader understands too (the layout is checked on the text
  // rules above; the Windows writer lays out blank lines its own way).
  EXPECT_EQ(hostbase::ParseProfileString(
                qv::text::utf8_to_wide(tiv_test_files::ReadFile(tmp.path() / "app.ini")), L"Main",
                L"count", L"", 4096),
            L"-12");
  // Values are cut at 4096 characters.
  EXPECT_EQ(run(set + "o:WriteINI('Main', 'Long', string.rep('x', 5000), f) "
                      "result = #o:ReadINI(f, 'Main', 'Long')"),
            "4096");
}

TEST(Win32Shell, TempDirAndDiskSpaceFromLua) {
  namespace fs = std::filesystem;
  const std::string dir = run("result = _G['Win32Shell.Object']:GetTmpDir()");
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(dir.back() == '/' || dir.back() == '\\') << dir;
  EXPECT_TRUE(fs::is_directory(fs::u8path(dir))) << dir;

  tiv_test_files::TempDir tmp;
  const fs::space_info space = fs::space(tmp.path());
  const std::string got = run("local t, f = _G['Win32Shell.Object']:GetDiskFreeSpace([[" +
                              tmp.path().generic_string() +
                              "]]) result = string.format('%.0f %s', t, tostring(f > 0 and "
                              "f <= t))");
  EXPECT_EQ(got, std::to_string(space.capacity) + " true");
  EXPECT_EQ(run("local t, f = _G['Win32Shell.Object']:GetDiskFreeSpace([[" +
                (tmp.path() / "missing" / "deeper").generic_string() +
                "]]) result = t .. ' ' .. f"),
            "0 0");
}

}  // namespace
