// "Win32Shell.Object" on Windows: the registry under a key of its own, the screen and the
// process list.
#include "shell_lua.h"

#include "qv/text.h"

#include <gtest/gtest.h>

#include <windows.h>
// After windows.h:
#include <shlwapi.h>

#include <lauxlib.h>

#include <cstdint>
#include <string>

namespace {

using shell_test::obj;
using shell_test::run;

const char kKey[] = "'Software\\\\TivorelShellUnitTest'";

struct key_holder {
  HKEY k = nullptr;
  ~key_holder() {
    if (k) ::RegCloseKey(k);
  }
};

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

namespace {

const wchar_t kDeleteKeyTest[] = L"Software\\TivorelDeleteKeyUnitTest";
// Made under HKEY_CURRENT_USER to see where that root leads.
const wchar_t kProbe[] = L"TivorelDeleteKeyUnitTestProbe";

// Removes the test's key tree whatever a failed run left behind.
struct tree_cleanup {
  tree_cleanup() { clean(); }
  ~tree_cleanup() { clean(); }
  static void clean() {
    ::SHDeleteKeyW(HKEY_CURRENT_USER, kDeleteKeyTest);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kProbe);
  }
};

HKEY make_key(HKEY parent, const std::wstring& path) {
  HKEY k = nullptr;
  EXPECT_EQ(::RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS)
      << qv::text::wide_to_utf8(path);
  return k;
}

bool key_exists(HKEY parent, const std::wstring& path) {
  HKEY k = nullptr;
  if (::RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  ::RegCloseKey(k);
  return true;
}

}  // namespace

// A key that names no subkey would hand the root itself to the recursive delete. This process's
// HKEY_CURRENT_USER is pointed at a key of the test for the check, so that only that key is at
// stake even where the delete is not refused.
TEST(Win32ShellWindows, DeleteRegKeyRefusesTheRootItself) {
  tree_cleanup cleanup;
  key_holder stand_in{make_key(HKEY_CURRENT_USER, std::wstring(kDeleteKeyTest) + L"\\Root")};
  ASSERT_NE(stand_in.k, nullptr);
  ::RegCloseKey(make_key(stand_in.k, L"a\\deep"));
  ::RegCloseKey(make_key(stand_in.k, L"b"));
  ASSERT_EQ(::RegOverridePredefKey(HKEY_CURRENT_USER, stand_in.k), ERROR_SUCCESS);
  struct restore {
    ~restore() { ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr); }
  } restore_root;
  // The root really is the stand-in now: a key made under it appears there.
  ::RegCloseKey(make_key(HKEY_CURRENT_USER, kProbe));
  ASSERT_TRUE(key_exists(stand_in.k, kProbe)) << "the root was not redirected; nothing deleted";
  for (const char* key : {"''", "'\\\\'", "'\\\\\\\\'"}) {
    EXPECT_EQ(run(obj() + "result = tostring(o:DeleteRegKey('HKEY_CURRENT_USER', " + key + "))"),
              "false")
        << key;
    EXPECT_TRUE(key_exists(stand_in.k, L"a\\deep")) << key;
    EXPECT_TRUE(key_exists(stand_in.k, L"b")) << key;
    EXPECT_TRUE(key_exists(stand_in.k, kProbe)) << key;
  }
  // A subkey of it still goes, and one that is not there is no failure.
  EXPECT_EQ(run(obj() + "result = tostring(o:DeleteRegKey('HKEY_CURRENT_USER', 'a')) .. "
                        "tostring(o:DeleteRegKey('HKEY_CURRENT_USER', 'a'))"),
            "truetrue");
  EXPECT_FALSE(key_exists(stand_in.k, L"a"));
  EXPECT_TRUE(key_exists(stand_in.k, L"b"));
}

// A name the registry refuses (it may not start with a separator) is a failure, not the success
// that a missing key is; the key stays.
TEST(Win32ShellWindows, DeleteRegKeyReportsARefusal) {
  tree_cleanup cleanup;
  ::RegCloseKey(make_key(HKEY_CURRENT_USER, std::wstring(kDeleteKeyTest) + L"\\Kept"));
  EXPECT_EQ(run(obj() + "result = tostring(o:DeleteRegKey('HKEY_CURRENT_USER', "
                        "'\\\\Software\\\\TivorelDeleteKeyUnitTest\\\\Kept'))"),
            "false");
  EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, std::wstring(kDeleteKeyTest) + L"\\Kept"));
}

namespace {

// Ends the message box the test opens, once it is there, and notes its owner.
const wchar_t kBoxCaption[] = L"Tivorel owner test";
HWND g_box_owner = nullptr;
bool g_box_seen = false;

void CALLBACK end_box(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = ::FindWindowW(L"#32770", kBoxCaption);  // the class of dialog boxes
  if (!box) return;
  ::KillTimer(nullptr, id);
  g_box_seen = true;
  g_box_owner = ::GetWindow(box, GW_OWNER);
  ::PostMessageW(box, WM_COMMAND, IDNO, 0);
}

}  // namespace

// The engine hands window handles to native code as light userdata; Lua code may also pass one
// as a number. Either way the box belongs to that window.
TEST(Win32ShellWindows, MessageBoxIsOwnedByTheWindowItIsGiven) {
  HWND owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  lua_State* L = shell_test::state();
  const struct {
    const char* name;
    void (*push)(lua_State*, HWND);
  } cases[] = {
      {"light userdata", [](lua_State* s, HWND w) { lua_pushlightuserdata(s, w); }},
      {"number",
       [](lua_State* s, HWND w) {
         lua_pushnumber(s, static_cast<lua_Number>(reinterpret_cast<std::uintptr_t>(w)));
       }},
  };
  for (const auto& c : cases) {
    g_box_owner = nullptr;
    g_box_seen = false;
    c.push(L, owner);
    lua_setglobal(L, "owner_window");
    ::SetTimer(nullptr, 0, 20, end_box);
    EXPECT_EQ(run(obj() + "result = tostring(o:MessageBox(owner_window, '" +
                  qv::text::wide_to_utf8(kBoxCaption) + "', 'text'))"),
              "7")
        << c.name;
    EXPECT_TRUE(g_box_seen) << c.name;
    EXPECT_EQ(g_box_owner, owner) << c.name;
  }
  lua_pushnil(L);
  lua_setglobal(L, "owner_window");
  ::DestroyWindow(owner);
}
