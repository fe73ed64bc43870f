// The stateless path, folder, file and disk utilities for Lua. Their methods read their
// arguments from index 2 and do not look at argument 1.
#include "store/netfs/lua_net_fs.h"

#include "fs_utility_os.h"
#include "hostbase/dir_tree.h"
#include "hostbase/path_manager.h"
#include "hostbase/volume.h"
#include "luabind/args.h"
#include "luabind/registration.h"
#include "qv/path.h"

namespace store {
namespace {

constexpr std::uint32_t kInvalidArgument = 20100001;

bool is_sep(wchar_t c) { return c == L'\\' || c == L'/'; }

std::size_t last_sep(const std::wstring& p) { return p.find_last_of(L"\\/"); }

std::wstring file_name(const std::wstring& p) {
  const std::size_t s = last_sep(p);
  return s == std::wstring::npos ? p : p.substr(s + 1);
}

std::wstring file_main_name(const std::wstring& p) {
  const std::wstring name = file_name(p);
  const std::size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring file_ext(const std::wstring& p) {
  const std::wstring name = file_name(p);
  const std::size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos ? std::wstring() : name.substr(dot + 1);
}

std::wstring path_root(const std::wstring& p) {
  const std::size_t s = p.find_first_of(L"\\/");
  if (s == std::wstring::npos) {
    os::set_last_error(kInvalidArgument);
    return {};
  }
  return p.substr(0, s + 1);
}

std::wstring path_dir(const std::wstring& p) {
  const std::size_t s = last_sep(p);
  if (s == std::wstring::npos) {
    os::set_last_error(kInvalidArgument);
    return {};
  }
  return p.substr(0, s + 1);
}

std::wstring upper_dir(std::wstring p) {
  if (!p.empty() && is_sep(p.back())) p.pop_back();
  return path_dir(p);
}

bool make_dir_tree(const std::wstring& p) {
  if (os::is_dir(p)) return true;
  if (os::make_dir(p)) return true;
  const std::wstring parent = upper_dir(p);
  // The parent is strictly shorter, so this ends.
  if (parent.empty() || parent.size() >= p.size() || !make_dir_tree(parent)) return false;
  return os::make_dir(p) || os::is_dir(p);
}

// The one folder-tree deletion of the host: links are not followed, "Thumbs.db" is kept as is.
bool delete_dir_tree(const std::wstring& p) { return hostbase::DeleteDirTree(p); }

// ---- Lua plumbing ----

// A missing or non-string path reads as empty, which the methods answer as a bad path.
std::wstring path_arg(lua_State* L, int index = 2) { return luabind::opt_wstring(L, index); }

int push(lua_State* L, const std::wstring& s) {
  luabind::push_wstring(L, s);
  return 1;
}

int push(lua_State* L, bool b) {
  lua_pushboolean(L, b);
  return 1;
}

int push_number(lua_State* L, double n) {
  lua_pushnumber(L, n);
  return 1;
}

// A required path: empty sets the last error.
bool require_path(const std::wstring& p) {
  if (!p.empty()) return true;
  os::set_last_error(kInvalidArgument);
  return false;
}

std::wstring dir_of(const std::wstring& file) {
  return file.empty() ? std::wstring() : path_dir(os::to_path_text(file));
}

// base + "\" + name + "\", created when missing; empty when base is unknown or it cannot be made.
std::wstring own_folder(const std::wstring& base, const wchar_t* name) {
  if (base.empty()) return {};
  const std::wstring dir = os::to_path_text(base) + L"\\" + name + L"\\";
  return make_dir_tree(dir) ? dir : std::wstring();
}

// path utility
int get_file_name(lua_State* L) { return push(L, file_name(path_arg(L))); }
int get_file_main_name(lua_State* L) { return push(L, file_main_name(path_arg(L))); }
int get_file_ext(lua_State* L) { return push(L, file_ext(path_arg(L))); }
int get_path_root(lua_State* L) { return push(L, path_root(path_arg(L))); }
int get_path_dir(lua_State* L) { return push(L, path_dir(path_arg(L))); }
int get_upper_dir(lua_State* L) { return push(L, upper_dir(path_arg(L))); }
int get_current_exe_path(lua_State* L) { return push(L, os::to_path_text(os::exe_path())); }
int get_current_exe_dir(lua_State* L) { return push(L, dir_of(os::exe_path())); }
int get_current_module_path(lua_State* L) {
  return push(L, os::to_path_text(os::module_path()));
}
int get_current_module_dir(lua_State* L) { return push(L, dir_of(os::module_path())); }
int get_common_appdata_dir(lua_State* L) {
  return push(L, own_folder(os::common_appdata_dir(), L"Qorvan"));
}
int get_appdata_dir(lua_State* L) { return push(L, own_folder(os::appdata_dir(), L"Tivorel")); }
// The program's own temporary folder: where its logs are, and no other user's to plant files in.
int get_tmpdata_dir(lua_State* L) { return push(L, hostbase::GetTempDirectory()); }

const QVLRT_METHOD kPathMethods[] = {
    {"get_file_name", get_file_name, 0},
    {"get_file_main_name", get_file_main_name, 0},
    {"get_file_ext", get_file_ext, 0},
    {"get_path_root", get_path_root, 0},
    {"get_path_dir", get_path_dir, 0},
    {"get_upper_dir", get_upper_dir, 0},
    {"get_current_exe_path", get_current_exe_path, 0},
    {"get_current_exe_dir", get_current_exe_dir, 0},
    {"get_current_module_path", get_current_module_path, 0},
    {"get_current_module_dir", get_current_module_dir, 0},
    {"get_common_appdata_dir", get_common_appdata_dir, 0},
    {"get_appdata_dir", get_appdata_dir, 0},
    {"get_tmpdata_dir", get_tmpdata_dir, 0},
    {nullptr, nullptr, 0},
};

// dir utility
int is_dir(lua_State* L) {
  const std::wstring p = path_arg(L);
  return push(L, require_path(p) && os::is_dir(p));
}
int is_empty_directory(lua_State* L) {
  const std::wstring p = path_arg(L);
  std::vector<hostbase::DirEntry> entries;
  if (!require_path(p) || !os::is_dir(p) || !hostbase::ListDir(p, entries)) return push(L, false);
  for (const auto& e : entries)
    if (e.name.empty() || e.name[0] != L'.') return push(L, false);
  return push(L, true);
}
// A folder whose name holds "\" (POSIX) would name another folder when the Lua code hands the
// text back: no folder is given then.
int get_current_working_directory(lua_State* L) {
  const std::wstring dir = os::current_dir();
  return push(L, qv::path::has_windows_text(dir) ? os::to_path_text(dir) : std::wstring());
}
int set_current_working_directory(lua_State* L) {
  const std::wstring p = path_arg(L);
  return push(L, require_path(p) && os::set_current_dir(p));
}
int delete_dir(lua_State* L) {
  const std::wstring p = path_arg(L);
  return push(L, require_path(p) && hostbase::DeleteEmptyDir(p));
}
int delete_dir_tree_m(lua_State* L) { return push(L, delete_dir_tree(path_arg(L))); }
int make_dir(lua_State* L) {
  const std::wstring p = path_arg(L);
  return push(L, require_path(p) && os::make_dir(p));
}
int make_dir_tree_m(lua_State* L) {
  const std::wstring p = path_arg(L);
  return push(L, require_path(p) && make_dir_tree(p));
}

const QVLRT_METHOD kDirMethods[] = {
    {"is_dir", is_dir, 0},
    {"is_empty_directory", is_empty_directory, 0},
    {"get_current_working_directory", get_current_working_directory, 0},
    {"set_current_working_directory", set_current_working_directory, 0},
    {"delete_dir", delete_dir, 0},
    {"delete_dir_tree", delete_dir_tree_m, 0},
    {"make_dir", make_dir, 0},
    {"make_dir_tree", make_dir_tree_m, 0},
    {nullptr, nullptr, 0},
};

// file utility
int is_file(lua_State* L) {
  const std::wstring p = path_arg(L);
  return push(L, require_path(p) && os::exists(p) && !os::is_dir(p));
}
int get_filesize(lua_State* L) {
  const std::wstring p = path_arg(L);
  // Sizes of 2^31 bytes and more do not fit Lua's 32-bit integers: a Lua number holds them.
  return push_number(L, static_cast<double>(require_path(p) ? os::file_size(p) : -1));
}

const QVLRT_METHOD kFileMethods[] = {
    {"is_file", is_file, 0},
    {"is_file_exist", is_file, 0},
    {"get_filesize", get_filesize, 0},
    {nullptr, nullptr, 0},
};

// disk utility: the partition that holds the path (a path without any separator has none)
bool space_of(lua_State* L, std::uint64_t& total, std::uint64_t& available) {
  const std::wstring p = path_arg(L);
  return require_path(p) && !path_root(p).empty() && hostbase::VolumeSpace(p, total, available);
}
int get_partition_capacity(lua_State* L) {
  std::uint64_t total = 0, available = 0;
  return push_number(L, space_of(L, total, available) ? static_cast<double>(total) : -1.0);
}
int get_free_partition_space(lua_State* L) {
  std::uint64_t total = 0, available = 0;
  return push_number(L, space_of(L, total, available) ? static_cast<double>(available) : -1.0);
}
int get_partition_utilization_ratio(lua_State* L) {
  std::uint64_t total = 0, available = 0;
  if (!space_of(L, total, available) || total == 0) return push_number(L, -1.0);
  return push_number(L, static_cast<double>(total - available) / static_cast<double>(total));
}
int get_disk_format(lua_State* L) {
  const std::wstring p = path_arg(L);
  return push(L, require_path(p) && !path_root(p).empty() ? hostbase::VolumeFormat(p)
                                                          : std::wstring());
}

const QVLRT_METHOD kDiskMethods[] = {
    {"get_partition_capacity", get_partition_capacity, 0},
    {"get_free_partition_space", get_free_partition_space, 0},
    {"get_partition_utilization_ratio", get_partition_utilization_ratio, 0},
    {"get_disk_format", get_disk_format, 0},
    {nullptr, nullptr, 0},
};

// The objects carry no state; one static object each stands for them.
struct utility_object {};
utility_object g_dir, g_disk, g_file, g_path;
void* dir_factory(std::uintptr_t) { return &g_dir; }
void* disk_factory(std::uintptr_t) { return &g_disk; }
void* file_factory(std::uintptr_t) { return &g_file; }
void* path_factory(std::uintptr_t) { return &g_path; }

}  // namespace

void RegisterDirUtility(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, "qv.filesystem.dir_utility", "qv.filesystem.dir_utility.class",
                          kDirMethods, dir_factory);
}

void RegisterDiskUtility(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, "qv.filesystem.disk_utility", "qv.filesystem.disk_utility.class",
                          kDiskMethods, disk_factory);
}

void RegisterFileUtility(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, "qv.filesystem.file_utility", "qv.filesystem.file_utility.class",
                          kFileMethods, file_factory);
}

void RegisterPathUtility(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, "qv.filesystem.path_utility", "qv.filesystem.path_utility.class",
                          kPathMethods, path_factory);
  // The second name is the same object with the same class, so both names give one userdata;
  // the class under the second name is registered as well, with the same methods.
  luabind::RegisterGlobal(env, "qv.pathsystem.path_utility", "qv.filesystem.path_utility.class",
                          kPathMethods, path_factory);
  luabind::RegisterClass(env, "qv.pathsystem.path_utility.class", kPathMethods);
}

}  // namespace store
