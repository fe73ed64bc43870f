// "Win32Shell.Object": small system services for the Lua code. The object has no state, and its
// methods do not look at argument 1.
#include "desktop/win32_shell.h"

#include "desktop/picture.h"

#include "hostbase/profile.h"
#include "luabind/args.h"
#include "luabind/registration.h"
#include "shell_os.h"

#include "qv/md5.h"
#include "qv/message_loop.h"
#include "qv/text.h"

#include <lauxlib.h>

#include <cctype>
#include <cstdint>

namespace desktop {

std::string UrlEncode(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    const bool keep = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                      c == '/' || c == '.';
    if (keep) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::vector<std::string> SplitString(const std::string& text, const std::string& delimiter) {
  std::vector<std::string> pieces;
  if (text.empty() || delimiter.empty()) return pieces;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t hit = text.find(delimiter, pos);
    if (hit == std::string::npos) hit = text.size();
    if (hit > pos) pieces.push_back(text.substr(pos, hit - pos));
    pos = hit + delimiter.size();
  }
  return pieces;
}

int ProfileInteger(const std::wstring& value) {
  std::size_t i = 0;
  while (i < value.size() && (value[i] == L' ' || value[i] == L'\t')) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == L'+' || value[i] == L'-')) negative = value[i++] == L'-';
  std::uint32_t n = 0;  // unsigned, so that overflow wraps as the system's reader does
  for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i)
    n = n * 10u + static_cast<std::uint32_t>(value[i] - L'0');
  if (negative) n = 0u - n;
  return static_cast<std::int32_t>(n);
}

namespace {

// Longest INI value handed to the Lua code, in characters.
constexpr std::size_t kIniValueChars = 4096;

// The exit code is read from index 1, where a call with ":" has the object (giving 0).
int PostQuitMessage(lua_State* L) {
  qv::loop::post_quit(luabind::opt_int<int>(L, 1, 0));
  return 0;
}

int GetTickCount(lua_State* L) {
  lua_pushnumber(L, static_cast<lua_Number>(os::tick_count()));
  return 1;
}

int GetTmpDir(lua_State* L) {
  const std::wstring dir = os::temp_dir();
  if (dir.empty()) return 0;
  luabind::push_wstring(L, dir);
  return 1;
}

int ReadINIInteger(lua_State* L) {
  const std::wstring file = luabind::check_wstring(L, 2);
  const std::wstring section = luabind::check_wstring(L, 3);
  const std::wstring key = luabind::check_wstring(L, 4);
  const int def = luabind::opt_int<int>(L, 5, 0);
  const std::wstring value = hostbase::ReadProfileString(section, key, L"", file, kIniValueChars);
  lua_pushinteger(L, value.empty() ? def : ProfileInteger(value));
  return 1;
}

int SplitStringMethod(lua_State* L) {
  const std::string text = luabind::check_string(L, 2);
  const std::string delimiter = luabind::check_string(L, 3);
  const std::vector<std::string> pieces = SplitString(text, delimiter);
  lua_createtable(L, static_cast<int>(pieces.size()), 0);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    luabind::push_string(L, pieces[i]);
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
  return 1;
}

int WriteINI(lua_State* L) {
  const std::wstring section = luabind::check_wstring(L, 2);
  const std::wstring key = luabind::check_wstring(L, 3);
  const std::wstring value = luabind::check_wstring(L, 4);
  const std::wstring file = luabind::check_wstring(L, 5);
  hostbase::WriteProfileEntry(section, key, value, file);
  return 0;
}

int ReadINI(lua_State* L) {
  const std::wstring file = luabind::check_wstring(L, 2);
  const std::wstring section = luabind::check_wstring(L, 3);
  const std::wstring key = luabind::check_wstring(L, 4);
  const std::wstring value = hostbase::ReadProfileString(section, key, L"", file, kIniValueChars);
  if (value.empty()) return 0;
  luabind::push_wstring(L, value);
  return 1;
}

// A volume that cannot be queried reports 0 bytes of 0.
int DiskFreeSpace(lua_State* L) {
  const std::wstring path = luabind::check_wstring(L, 2);
  std::uint64_t total = 0, free = 0;
  if (!os::disk_space(path, total, free)) total = free = 0;
  lua_pushnumber(L, static_cast<lua_Number>(total));
  lua_pushnumber(L, static_cast<lua_Number>(free));
  return 2;
}

int URLEncode(lua_State* L) {
  luabind::push_string(L, UrlEncode(luabind::check_string(L, 2)));
  return 1;
}

int GetDataMD5(lua_State* L) {
  std::string hex = qv::md5_hex(luabind::check_string(L, 2));
  for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  luabind::push_string(L, hex);
  return 1;
}

// A factor that is not a number is taken as 0, which the picture code refuses.
int ZoomPic(lua_State* L) {
  const std::u16string source = qv::text::wide_to_utf16(luabind::check_wstring(L, 2));
  const double fx = luabind::opt_number(L, 3, 0);
  const double fy = luabind::opt_number(L, 4, 0);
  const std::u16string destination = qv::text::wide_to_utf16(luabind::check_wstring(L, 5));
  lua_pushboolean(L, picture::Zoom(source, fx, fy, destination));
  return 1;
}

int ConvertPic(lua_State* L) {
  const std::u16string source = qv::text::wide_to_utf16(luabind::check_wstring(L, 2));
  const std::u16string destination = qv::text::wide_to_utf16(luabind::check_wstring(L, 3));
  picture::Convert(source, destination);
  return 0;
}

const QVLRT_METHOD kMethods[] = {
    {"PostQuitMessage", PostQuitMessage, 0},
    {"GetTickCount", GetTickCount, 0},
    {"GetTmpDir", GetTmpDir, 0},
    {"ReadINIInteger", ReadINIInteger, 0},
    {"SplitString", SplitStringMethod, 0},
    {"WriteINI", WriteINI, 0},
    {"ReadINI", ReadINI, 0},
    {"GetDiskFreeSpace", DiskFreeSpace, 0},
    {"URLEncode", URLEncode, 0},
    {"GetDataMD5", GetDataMD5, 0},
    // ZoomPic and ConvertPic follow InVokeJsFun in the full table.
    {"ZoomPic", ZoomPic, 0},
    {"ConvertPic", ConvertPic, 0},
    {nullptr, nullptr, 0},
};

struct CLuaWin32Shell {};

void* Factory(std::uintptr_t) {
  static CLuaWin32Shell shell;
  return &shell;
}

}  // namespace

void RegisterWin32Shell(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, "Win32Shell.Object", "Win32Shell.Class", kMethods, Factory);
}

}  // namespace desktop
