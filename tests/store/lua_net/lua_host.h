// The Lua host of these tests: the engine's one Lua state with the network and filesystem
// objects registered as start-up registers them, and helpers to run Lua code in it.
#pragma once

#include "http_test_support.h"
#include "qv_engine.h"
#include "store/netfs/lua_net_fs.h"

#include <lauxlib.h>
#include <lualib.h>

#include <string>

namespace lua_host {

inline int lua_finish(lua_State*) {
  http_test::loop_runner::finish();
  return 0;
}

// The engine's one Lua state with this module's objects registered, as start-up does.
inline lua_State* host() {
  static lua_State* L = [] {
    QVLRT_ENV env = QVLRT_GetEnv(0);
    store::RegisterNetAndFilesystemObjects(env);
    lua_State* s = QVLRT_GetLuaState(QVLRT_GetRuntime(env, 0));
    lua_register(s, "finish", lua_finish);
    return s;
  }();
  return L;
}

// Runs a chunk; "" on success, else the error.
inline std::string run(const std::string& code) {
  lua_State* L = host();
  if (luaL_dostring(L, code.c_str()) == 0) return {};
  std::string err = lua_tostring(L, -1) ? lua_tostring(L, -1) : "?";
  lua_pop(L, 1);
  return err;
}

inline std::string global_string(const char* name) {
  lua_State* L = host();
  lua_getglobal(L, name);
  std::size_t n = 0;
  const char* s = lua_tolstring(L, -1, &n);
  std::string out = s ? std::string(s, n) : std::string("<not a string>");
  lua_pop(L, 1);
  return out;
}

inline void set_global(const char* name, const std::string& value) {
  lua_State* L = host();
  lua_pushlstring(L, value.data(), value.size());
  lua_setglobal(L, name);
}

inline void set_servers() {
  const auto& s = http_test::servers::get();
  set_global("NGINX", "http://127.0.0.1:" + std::to_string(s.nginx_port));
  set_global("FAULT", "http://127.0.0.1:" + std::to_string(s.fault_port));
  set_global("FAULT_HOST", "127.0.0.1:" + std::to_string(s.fault_port));
}

constexpr const char* kPrelude = R"(
  path = _G["qv.filesystem.path_utility"]
  path2 = _G["qv.pathsystem.path_utility"]
  dirs = _G["qv.filesystem.dir_utility"]
  files = _G["qv.filesystem.file_utility"]
  disk = _G["qv.filesystem.disk_utility"]
  http_factory = _G["qv.win32.net.asyn_http.factory"]
  file_factory = _G["qv.win32.net.asyn_http_file.factory"]
  function check(cond, what) if not cond then error(what, 2) end end
)";

}  // namespace lua_host
