// Lua's own file functions take paths in either form where "\" is not the system's separator:
// the host hands Lua paths with "\" (one UI package serves every target), and a package written
// for Windows opens files with them. Where "\" is the separator nothing is wrapped.
#include "file_paths.h"

#include "engine_os.h"

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include <lauxlib.h>

namespace qv_engine {
namespace {

// Replaces the string argument at idx by its native form.
void make_native(lua_State* L, int idx) {
  if (lua_type(L, idx) != LUA_TSTRING) return;
  std::size_t len = 0;
  const char* s = lua_tolstring(L, idx, &len);
  if (!std::memchr(s, '\\', len)) return;
  const std::string native = os::native_path(std::string(s, len));
  lua_pushlstring(L, native.data(), native.size());
  lua_replace(L, idx);
}

// upvalue 1: the original function; upvalue 2: how many leading arguments are paths.
int call_with_native_paths(lua_State* L) {
  const int n = lua_gettop(L);
  const int paths = static_cast<int>(lua_tointeger(L, lua_upvalueindex(2)));
  for (int i = 1; i <= n && i <= paths; ++i) make_native(L, i);
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, n, LUA_MULTRET);
  return lua_gettop(L);
}

// A searcher of package.loaders run with its search path (upvalue 2: "path" or "cpath") in
// native form; the package's own text is put back afterwards, whatever the searcher did.
int search_with_native_path(lua_State* L) {
  lua_settop(L, 1);
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_getfenv(L, -1);  // the searchers read their paths from the package table
  const int package = lua_gettop(L);
  const char* field = lua_tostring(L, lua_upvalueindex(2));
  lua_getfield(L, package, field);
  const int saved = lua_gettop(L);
  if (lua_type(L, saved) == LUA_TSTRING) {
    lua_pushvalue(L, saved);
    make_native(L, lua_gettop(L));
    lua_setfield(L, package, field);
  }
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_pushvalue(L, 1);
  const int status = lua_pcall(L, 1, 1, 0);
  lua_pushvalue(L, saved);
  lua_setfield(L, package, field);
  if (status != 0) lua_error(L);
  return 1;
}

void wrap(lua_State* L, int table, const char* name, int path_args) {
  lua_getfield(L, table, name);
  if (!lua_isfunction(L, -1)) {
    lua_pop(L, 1);
    return;
  }
  lua_pushinteger(L, path_args);
  lua_pushcclosure(L, call_with_native_paths, 2);
  lua_setfield(L, table, name);
}

void wrap_library(lua_State* L, const char* library,
                  std::initializer_list<std::pair<const char*, int>> functions) {
  lua_getfield(L, LUA_GLOBALSINDEX, library);
  if (lua_istable(L, -1))
    for (const auto& f : functions) wrap(L, lua_gettop(L), f.first, f.second);
  lua_pop(L, 1);
}

void wrap_searchers(lua_State* L) {
  lua_getfield(L, LUA_GLOBALSINDEX, "package");
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    return;
  }
  lua_getfield(L, -1, "loaders");
  if (lua_istable(L, -1)) {
    const int loaders = lua_gettop(L);
    // 1 is the preload table; 2 searches package.path, 3 and 4 package.cpath.
    for (int i = 2; i <= 4; ++i) {
      lua_rawgeti(L, loaders, i);
      if (!lua_isfunction(L, -1)) {
        lua_pop(L, 1);
        continue;
      }
      lua_pushstring(L, i == 2 ? "path" : "cpath");
      lua_pushcclosure(L, search_with_native_path, 2);
      lua_rawseti(L, loaders, i);
    }
  }
  lua_pop(L, 2);
}

}  // namespace

void accept_either_separator(lua_State* L) {
  if (os::separator() == '\\') return;
  wrap_library(L, "_G", {{"dofile", 1}, {"loadfile", 1}});
  wrap_library(L, "io", {{"open", 1}, {"lines", 1}, {"input", 1}, {"output", 1}});
  wrap_library(L, "os", {{"remove", 1}, {"rename", 2}});
  wrap_searchers(L);
}

}  // namespace qv_engine
