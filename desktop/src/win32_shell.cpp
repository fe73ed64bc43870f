// "Win32Shell.Object": small system services for the Lua code. The object has no state, and its
// methods do not look at argument 1.
#include "desktop/win32_shell.h"

#include "desktop/archive.h"
#include "desktop/log.h"
#include "desktop/picture.h"
#include "hostbase/dir_tree.h"
#include "hostbase/path_manager.h"
#include "hostbase/process_queue.h"
#include "hostbase/profile.h"
#include "hostbase/thread_pool.h"
#include "hostbase/volume.h"
#include "luabind/args.h"
#include "luabind/lua_async_callback.h"
#include "luabind/registration.h"
#include "shell_helpers.h"
#include "shell_os.h"

#include "qv/md5.h"
#include "qv/message_loop.h"
#include "qv/path.h"
#include "qv/text.h"
#include "qv/url_encode.h"

#include <lauxlib.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

namespace desktop {

namespace {

// Longest INI value handed to the Lua code, in characters.
constexpr std::size_t kIniValueChars = 4096;

// An array (from 1) of strings.
void push_array(lua_State* L, const std::vector<std::wstring>& items) {
  lua_createtable(L, static_cast<int>(items.size()), 0);
  for (std::size_t i = 0; i < items.size(); ++i) {
    luabind::push_wstring(L, items[i]);
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
}

// The exit code is read from index 1, where a call with ":" has the object (giving 0).
int PostQuitMessage(lua_State* L) {
  qv::loop::post_quit(luabind::opt_int<int>(L, 1, 0));
  return 0;
}

// ---- the methods (the table at the end gives their order) ----------------------------------------

int FileDialog(lua_State* L) {
  os::file_dialog_request r;
  r.open = lua_toboolean(L, 2) != 0;
  r.filter = luabind::check_wstring(L, 3);
  r.has_default_extension = lua_type(L, 4) == LUA_TSTRING;
  if (r.has_default_extension) r.default_extension = luabind::check_wstring(L, 4);
  r.has_file_name = lua_type(L, 5) == LUA_TSTRING;
  if (r.has_file_name) r.file_name = luabind::check_wstring(L, 5);
  r.multiple = lua_toboolean(L, 6) != 0;
  push_array(L, os::file_dialog(r));
  return 1;
}

// Both paths given: an empty one would act on the current folder.
int Rename(lua_State* L) {
  const std::wstring from = luabind::check_wstring(L, 2);
  const std::wstring to = luabind::check_wstring(L, 3);
  if (!from.empty() && !to.empty()) os::rename_path(from, to);
  return 0;
}

int OpenDir(lua_State* L) {
  const std::wstring path = luabind::check_wstring(L, 2);
  if (!path.empty()) os::shell_open(path);
  return 0;
}

int DeletePathFile(lua_State* L) {
  const std::wstring path = luabind::check_wstring(L, 2);
  if (path.empty() || !os::delete_file(path)) return 0;
  lua_pushboolean(L, 1);
  return 1;
}

// A negative time would be the system's "forever"; it waits not at all instead.
int Sleep(lua_State* L) {
  const std::int64_t ms = luabind::opt_int<std::int64_t>(L, 2, 0);
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return 0;
}

// A key that names no subkey ("" or only separators) is refused: the recursive delete would take
// every key below the root.
int DeleteRegKey(lua_State* L) {
  const int root = RegistryRoot(luabind::check_string(L, 2), true);
  const std::wstring key = luabind::check_wstring(L, 3);
  const bool names_a_subkey = key.find_first_not_of(L'\\') != std::wstring::npos;
  lua_pushboolean(L, root >= 0 && names_a_subkey && os::reg_delete_key(root, key));
  return 1;
}

int CreateRegKey(lua_State* L) {
  const int root = RegistryRoot(luabind::check_string(L, 2), true);
  const std::wstring key = luabind::check_wstring(L, 3);
  lua_pushboolean(L, root >= 0 && os::reg_create_key(root, key));
  return 1;
}

// A missing argument gives false rather than the argument error.
int SetRegValue(lua_State* L) {
  bool ok = false;
  if (luabind::is_string(L, 2) && luabind::is_string(L, 3) && luabind::is_string(L, 4)) {
    const int root = RegistryRoot(luabind::check_string(L, 2), true);
    const std::wstring key = luabind::check_wstring(L, 3);
    const std::wstring name = luabind::check_wstring(L, 4);
    if (root >= 0) {
      if (lua_type(L, 5) == LUA_TNUMBER) {
        // Negative numbers keep their 32-bit pattern (-1 is 0xFFFFFFFF).
        const auto v = static_cast<std::uint32_t>(
            luabind::to_integer<std::int64_t>(lua_tonumber(L, 5)));
        ok = os::reg_set_dword(root, key, name, v);
      } else if (lua_type(L, 5) == LUA_TSTRING) {
        ok = os::reg_set_string(root, key, name, luabind::check_wstring(L, 5));
      }
    }
  }
  lua_pushboolean(L, ok);
  return 1;
}

int QueryRegValue(lua_State* L) {
  if (!luabind::is_string(L, 2) || !luabind::is_string(L, 3) || !luabind::is_string(L, 4)) {
    lua_pushnil(L);
    return 1;
  }
  const int root = RegistryRoot(luabind::check_string(L, 2), false);
  os::reg_value v;
  if (root >= 0) v = os::reg_query(root, luabind::check_wstring(L, 3), luabind::check_wstring(L, 4));
  if (v.kind == os::reg_value::dword)
    lua_pushnumber(L, static_cast<lua_Number>(v.number));
  else if (v.kind == os::reg_value::string)
    luabind::push_wstring(L, v.text);
  else
    lua_pushstring(L, "");
  return 1;
}

int RefreshIcon(lua_State*) {
  os::refresh_icons();
  return 0;
}

int RebootMachine(lua_State*) {
  os::reboot();
  return 0;
}

int GetCursorPos(lua_State* L) {
  int x = 0, y = 0;
  if (!os::cursor_pos(x, y)) return 0;
  lua_pushinteger(L, x);
  lua_pushinteger(L, y);
  return 2;
}

int GetWorkArea(lua_State* L) {
  int x = 1, y = 1;
  if (luabind::is_number(L, 2) && luabind::is_number(L, 3)) {
    x = luabind::opt_int<int>(L, 2, 1);
    y = luabind::opt_int<int>(L, 3, 1);
  }
  int left = 0, top = 0, right = 0, bottom = 0;
  if (!os::work_area(x, y, left, top, right, bottom)) return 0;
  lua_pushinteger(L, left);
  lua_pushinteger(L, top);
  lua_pushinteger(L, right);
  lua_pushinteger(L, bottom);
  return 4;
}

// 0 when the operation was started, 1 when it failed.
int ShellExecuteMethod(lua_State* L) {
  const auto window = luabind::opt_handle(L, 2);
  const std::wstring verb = luabind::opt_wstring(L, 3);
  const std::wstring file = luabind::check_wstring(L, 4);
  const std::wstring parameters = luabind::opt_wstring(L, 5);
  const std::wstring directory = luabind::opt_wstring(L, 6);
  const int show = ShowStateValue(luabind::opt_string(L, 7));
  const bool ok = !file.empty() && os::shell_execute(window, verb, file, parameters, directory, show);
  lua_pushinteger(L, ok ? 0 : 1);
  return 1;
}

int IsKeyDown(lua_State* L) {
  lua_pushboolean(L, os::key_down(luabind::opt_int<int>(L, 2, 0)));
  return 1;
}

int FolderDialog(lua_State* L) {
  const std::wstring title = luabind::opt_wstring(L, 2);
  const std::wstring initial = luabind::opt_wstring(L, 3);
  luabind::push_wstring(L, os::folder_dialog(title, initial));
  return 1;
}

// The shell's "not found" answers count as opened, as they always have for the callers; a file
// without a program offers the system's choice of one.
int ShellOpen(lua_State* L) {
  const std::wstring path = luabind::check_wstring(L, 2);
  bool ok = false;
  if (!path.empty()) {
    switch (os::shell_open(path)) {
      case os::open_result::ok:
      case os::open_result::not_found:
        ok = true;
        break;
      case os::open_result::no_program:
        os::choose_program(path);
        break;
      case os::open_result::failed:
        break;
    }
  }
  lua_pushboolean(L, ok);
  return 1;
}

int EnumFile(lua_State* L) {
  const int flags = luabind::opt_int<int>(L, 2, 0);
  const std::wstring folder = luabind::check_wstring(L, 3);
  std::vector<FolderEntry> entries;
  WalkFolder(folder, flags, entries, nullptr);
  lua_createtable(L, static_cast<int>(entries.size()), 0);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    lua_createtable(L, 0, 2);
    luabind::set_field(L, "path", entries[i].path);
    luabind::set_field(L, "type", entries[i].type);
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
  return 1;
}

int UnZip(lua_State* L) {
  const std::wstring archive = luabind::check_wstring(L, 2);
  const std::wstring folder = luabind::check_wstring(L, 3);
  lua_pushboolean(L, ExtractAll(qv::text::wide_to_utf16(archive), qv::text::wide_to_utf16(folder)));
  return 1;
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

int GetDirSize(lua_State* L) {
  const std::wstring folder = luabind::check_wstring(L, 2);
  std::vector<FolderEntry> none;
  std::uint64_t total = 0;
  WalkFolder(folder, 0, none, &total);
  lua_pushnumber(L, static_cast<lua_Number>(total));
  return 1;
}

// The completion of a work item: the Lua function at index, when there is one.
hostbase::WorkItemCompletion completion_at(lua_State* L, int index) {
  return hostbase::CompletionOf(luabind::LuaAsynFunctionCallback::FromArgument(L, index));
}

int AsyncUnzip(lua_State* L) {
  const std::wstring archive = luabind::check_wstring(L, 2);
  const std::wstring folder = luabind::check_wstring(L, 3);
  const std::int32_t id = hostbase::QueueUnzip(qv::text::wide_to_utf16(archive),
                                               qv::text::wide_to_utf16(folder), completion_at(L, 4));
  lua_pushinteger(L, id);
  return 1;
}

int ShowCursor(lua_State* L) {
  os::show_cursor(lua_toboolean(L, 2) != 0);
  return 0;
}

int MessageBoxMethod(lua_State* L) {
  const auto window = luabind::opt_handle(L, 2);
  const std::wstring caption = luabind::check_wstring(L, 3);
  const std::wstring text = luabind::check_wstring(L, 4);
  lua_pushinteger(L, os::message_box(window, caption, text));
  return 1;
}

int GetProcessList(lua_State* L) {
  const std::vector<os::process_entry> list = os::process_list();
  lua_createtable(L, static_cast<int>(list.size()), 0);
  for (std::size_t i = 0; i < list.size(); ++i) {
    lua_createtable(L, 0, 2);
    luabind::set_field(L, "path", list[i].path);
    luabind::set_field(L, "id", list[i].id);
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
  return 1;
}

// Only a real process id: 0 and negative numbers name groups of processes, or all of them.
int TerminateProcess(lua_State* L) {
  const auto pid = luabind::opt_int<std::int64_t>(L, 2, 0);
  const auto code = static_cast<std::uint32_t>(luabind::opt_int<std::int64_t>(L, 3, 0));
  if (pid > 0 && pid <= static_cast<std::int64_t>(UINT32_MAX))
    os::terminate_process(static_cast<std::uint32_t>(pid), code);
  return 0;
}

int CopyFileMethod(lua_State* L) {
  const std::wstring from = luabind::check_wstring(L, 2);
  const std::wstring to = luabind::check_wstring(L, 3);
  if (from.empty() || to.empty() || !os::copy_file(from, to)) return 0;
  lua_pushboolean(L, 1);
  return 1;
}

int GetAsyncKeyState(lua_State* L) {
  lua_pushboolean(L, os::async_key_state(luabind::opt_int<int>(L, 2, 0)));
  return 1;
}

int GetKeyState(lua_State* L) {
  lua_pushinteger(L, os::key_state(luabind::opt_int<int>(L, 2, 0)));
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

int GetScreenSize(lua_State* L) {
  int w = 0, h = 0;
  if (!os::screen_size(w, h)) return 0;
  lua_pushinteger(L, w);
  lua_pushinteger(L, h);
  return 2;
}

int IsNowFullScreen(lua_State* L) {
  const int state = os::full_screen_state();
  if (state < 0) return 0;
  lua_pushboolean(L, state);
  return 1;
}

// The time limit may be left out: AsynCreateProcess(command, function).
int AsynCreateProcess(lua_State* L) {
  const std::string command = luabind::check_string(L, 2);
  int function_index = 4;
  std::int32_t limit = -1;
  if (lua_type(L, 3) == LUA_TFUNCTION && lua_gettop(L) == 3)
    function_index = 3;
  else
    limit = luabind::opt_int<std::int32_t>(L, 3, -1);
  const std::int32_t id =
      hostbase::QueueProcessItem(command, limit < 0 ? -1 : limit, completion_at(L, function_index));
  lua_pushinteger(L, id);
  return 1;
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

int InVokeJsFun(lua_State*) { return 0; }

int DeleteRegValue(lua_State* L) {
  bool ok = false;
  if (luabind::is_string(L, 2) && luabind::is_string(L, 3) && luabind::is_string(L, 4)) {
    const int root = RegistryRoot(luabind::check_string(L, 2), true);
    if (root >= 0)
      ok = os::reg_delete_value(root, luabind::check_wstring(L, 3), luabind::check_wstring(L, 4));
  }
  lua_pushboolean(L, ok);
  return 1;
}

int IsWow64(lua_State* L) {
  lua_pushboolean(L, os::is_wow64());
  return 1;
}

int GetExtFiles(lua_State* L) {
  const std::wstring folder = luabind::check_wstring(L, 2);
  const std::wstring pattern = luabind::check_wstring(L, 3);
  std::vector<std::wstring> names;
  if (!pattern.empty()) {
    for (auto& name : os::matching_names(folder, pattern)) {
      // The caller joins the name to the folder: it must read back as this one entry.
      if (qv::path::has_windows_text(name))
        names.push_back(std::move(name));
      else
        LogLine("GetExtFiles: left out " + qv::text::wide_to_utf8(name) +
                ": the name holds \"\\\", which a path of the UI separates at");
    }
  }
  if (names.empty()) return 0;
  push_array(L, names);
  return 1;
}

// A volume that cannot be queried reports 0 bytes of 0; a path still to be created is answered
// for by the folder it would be created in.
int DiskFreeSpace(lua_State* L) {
  const std::wstring path = luabind::check_wstring(L, 2);
  std::uint64_t total = 0, free = 0;
  if (!hostbase::VolumeSpace(path, total, free)) total = free = 0;
  lua_pushnumber(L, static_cast<lua_Number>(total));
  lua_pushnumber(L, static_cast<lua_Number>(free));
  return 2;
}

int URLEncode(lua_State* L) {
  luabind::push_string(L, qv::text::url_encode(luabind::check_string(L, 2),
                                                qv::text::url_keep::path_text));
  return 1;
}

int GetUnCompressSize(lua_State* L) {
  const std::wstring archive = luabind::check_wstring(L, 2);
  lua_pushnumber(L, static_cast<lua_Number>(TotalUnpackedSize(qv::text::wide_to_utf16(archive))));
  return 1;
}

int GetDataMD5(lua_State* L) {
  std::string hex = qv::md5_hex(luabind::check_string(L, 2));
  for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  luabind::push_string(L, hex);
  return 1;
}

int AsyncDeleteDir(lua_State* L) {
  const std::wstring folder = luabind::check_wstring(L, 2);
  lua_pushinteger(L, hostbase::QueueDeleteDir(folder, completion_at(L, 3)));
  return 1;
}

int GetLocalVer(lua_State* L) {
  luabind::push_wstring(L, hostbase::ReadAppVersion());
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
    {"FileDialog", FileDialog, 0},
    {"PostQuitMessage", PostQuitMessage, 0},
    {"GetTickCount", GetTickCount, 0},
    {"GetTmpDir", GetTmpDir, 0},
    {"Rename", Rename, 0},
    {"OpenDir", OpenDir, 0},
    {"DeletePathFile", DeletePathFile, 0},
    {"ReadINIInteger", ReadINIInteger, 0},
    {"Sleep", Sleep, 0},
    {"DeleteRegKey", DeleteRegKey, 0},
    {"CreateRegKey", CreateRegKey, 0},
    {"SetRegValue", SetRegValue, 0},
    {"QueryRegValue", QueryRegValue, 0},
    {"RefreshIcon", RefreshIcon, 0},
    {"RebootMachine", RebootMachine, 0},
    {"GetCursorPos", GetCursorPos, 0},
    {"GetWorkArea", GetWorkArea, 0},
    {"ShellExecute", ShellExecuteMethod, 0},
    {"IsKeyDown", IsKeyDown, 0},
    {"FolderDialog", FolderDialog, 0},
    {"ShellOpen", ShellOpen, 0},
    {"EnumFile", EnumFile, 0},
    {"UnZip", UnZip, 0},
    {"SplitString", SplitStringMethod, 0},
    {"GetDirSize", GetDirSize, 0},
    {"AsyncUnzip", AsyncUnzip, 0},
    {"ShowCursor", ShowCursor, 0},
    {"MessageBox", MessageBoxMethod, 0},
    {"GetProcessList", GetProcessList, 0},
    {"TerminateProcess", TerminateProcess, 0},
    {"CopyFile", CopyFileMethod, 0},
    {"GetAsyncKeyState", GetAsyncKeyState, 0},
    {"GetKeyState", GetKeyState, 0},
    {"WriteINI", WriteINI, 0},
    {"GetScreenSize", GetScreenSize, 0},
    {"IsNowFullScreen", IsNowFullScreen, 0},
    {"AsynCreateProcess", AsynCreateProcess, 0},
    {"ReadINI", ReadINI, 0},
    {"InVokeJsFun", InVokeJsFun, 0},
    {"ZoomPic", ZoomPic, 0},
    {"ConvertPic", ConvertPic, 0},
    {"DeleteRegValue", DeleteRegValue, 0},
    {"IsWow64", IsWow64, 0},
    {"GetExtFiles", GetExtFiles, 0},
    {"GetDiskFreeSpace", DiskFreeSpace, 0},
    {"URLEncode", URLEncode, 0},
    {"GetUnCompressSize", GetUnCompressSize, 0},
    {"GetDataMD5", GetDataMD5, 0},
    {"AsyncDeleteDir", AsyncDeleteDir, 0},
    {"GetLocalVer", GetLocalVer, 0},
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
