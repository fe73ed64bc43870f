// "Win32Shell.Object" on Windows: the registry under a key of its own, the screen and the
// process list.
#include "shell_lua.h"

#include "qv/text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

using shell_test::obj;
using shell_test::run;

const char kKey[] = "'Software\\\\TivorelShellUnitTest'";

// Removes the test key whatever a failed run left behind.
struct key_cleanup {
  key_cleanup() { clean(); }
  ~key_cleanup() { clean(); }
  static void clean() { ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\TivorelShellUnitTest"); }
};

std::string with_key(const std::string& code) { return obj() + "local k = " + kKey + " " + code; }

}  // namespace

TEST(Win32ShellWindows, RegistryRoundTrip) {
  key_cleanup cleanup;
  EXPECT_EQ(run(with_key("result = tostring(o:SetRegValue('HKEY_CURRENT_USER', k, 'n', 1))")),
            "false");  // the key must exist
  EXPECT_EQ(run(with_key("result = tostring(o:CreateRegKey('HKEY_CURRENT_USER', k))")), "true");
  const struct {
    std::string set, query;
  } cases[] = {
      {"o:SetRegValue('hkey_current_user', k, 'dw', 42)", "o:QueryRegValue('HKEY_CURRENT_USER', k, 'dw')"},
      {"o:SetRegValue('HKEY_CURRENT_USER', k, 'neg', -1)", "o:QueryRegValue('HKEY_CURRENT_USER', k, 'neg')"},
      {"o:SetRegValue('HKEY_CURRENT_USER', k, 's', 'h\\195\\169llo')", "o:QueryRegValue('HKEY_CURRENT_USER', k, 's')"},
      {"o:SetRegValue('HKEY_CURRENT_USER', k, 'e', '')", "o:QueryRegValue('HKEY_CURRENT_USER', k, 'e')"},
  };
  const char* const expected[] = {"true 42 number", "true 4294967295 number",
                                  "true h\xC3\xA9llo string", "true  string"};
  for (std::size_t i = 0; i < sizeof(expected) / sizeof(expected[0]); ++i) {
    const std::string code = "local ok = " + cases[i].set + " local v = " + cases[i].query +
                             " result = tostring(ok) .. ' ' .. v .. ' ' .. type(v)";
    EXPECT_EQ(run(with_key(code)), expected[i]) << cases[i].set;
  }
  // Other value types are refused; other registry types and missing values read as "".
  EXPECT_EQ(run(with_key("result = tostring(o:SetRegValue('HKEY_CURRENT_USER', k, 't', {}))")),
            "false");
  const DWORD qword_size = 8;
  const unsigned char eight[8] = {1};
  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\TivorelShellUnitTest", 0, KEY_WRITE, &key),
            ERROR_SUCCESS);
  ::RegSetValueExW(key, L"q", 0, REG_QWORD, eight, qword_size);
  ::RegCloseKey(key);
  EXPECT_EQ(run(with_key("result = '[' .. o:QueryRegValue('HKEY_CURRENT_USER', k, 'q') .. "
                         "o:QueryRegValue('HKEY_CURRENT_USER', k, 'missing') .. "
                         "o:QueryRegValue('HKEY_CURRENT_CONFIG', 'System', 'x') .. "
                         "o:QueryRegValue('HKEY_CURRENT_USER', k .. '\\\\none', 'x') .. ']'")),
            "[]");
  EXPECT_EQ(run(with_key("result = tostring(o:DeleteRegValue('HKEY_CURRENT_USER', k, 'dw')) .. "
                         "o:QueryRegValue('HKEY_CURRENT_USER', k, 'dw') .. "
                         "tostring(o:DeleteRegValue('HKEY_CURRENT_USER', k, 'dw')) .. "
                         "tostring(o:DeleteRegValue('HKEY_CURRENT_USER', k .. '\\\\none', 'x'))")),
            "truefalsetrue");
  // The key goes with its subkeys.
  EXPECT_EQ(run(with_key("o:CreateRegKey('HKEY_CURRENT_USER', k .. '\\\\child') "
                         "result = tostring(o:DeleteRegKey('HKEY_CURRENT_USER', k)) .. "
                         "o:QueryRegValue('HKEY_CURRENT_USER', k, 's')")),
            "true");
  HKEY gone = nullptr;
  EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\TivorelShellUnitTest", 0, KEY_READ, &gone),
            ERROR_SUCCESS);
  if (gone) ::RegCloseKey(gone);
}

TEST(Win32ShellWindows, ScreenAndSystem) {
  EXPECT_EQ(run(obj() + "local w, h = o:GetScreenSize() result = tostring(w == " +
                std::to_string(::GetSystemMetrics(SM_CXSCREEN)) + " and h == " +
                std::to_string(::GetSystemMetrics(SM_CYSCREEN)) + ")"),
            "true");
  EXPECT_EQ(run(obj() + "result = select('#', o:GetWorkArea()) .. select('#', o:GetWorkArea(1))"),
            "44");
  EXPECT_EQ(run(obj() + "result = select('#', o:GetCursorPos())"), "2");
  EXPECT_EQ(run(obj() + "result = type(o:IsWow64())"), "boolean");
  // This process is in the list with its own path.
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(run(obj() + "for _, p in ipairs(o:GetProcessList()) do if p.id == " +
                std::to_string(::GetCurrentProcessId()) + " then result = p.path end end"),
            qv::text::wide_to_utf8(self));
}
