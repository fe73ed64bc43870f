// The UI package loader: packages are folders found under the search paths; loading one runs
// its entry script.
#include "qv_engine.h"

#include "engine_os.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include <lauxlib.h>

namespace qv_engine {
void report_error(const char* context, const char* message);
}

namespace {

std::vector<std::string>& search_paths() {
  static std::vector<std::string> paths;
  return paths;
}

bool same_name(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x < 0x80 && y < 0x80 ? std::tolower(x) != std::tolower(y) : x != y) return false;
  }
  return true;
}

std::string join(std::string dir, const std::string& name) {
  if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += qv_engine::os::separator();
  return dir + name;
}

// Lets the package's scripts require() modules kept in the package.
void add_package_path(lua_State* L, const std::string& dir) {
  lua_getfield(L, LUA_GLOBALSINDEX, "package");
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    return;
  }
  lua_getfield(L, -1, "path");
  std::string path = lua_isstring(L, -1) ? lua_tostring(L, -1) : "";
  lua_pop(L, 1);
  const std::string own = qv_engine::os::native_path(join(dir, "?.lua"));
  lua_pushstring(L, (own + ";" + path).c_str());
  lua_setfield(L, -2, "path");
  lua_pop(L, 1);
}

}  // namespace

int QVUE_InitLoader(int) { return 0; }

int QVUE_AddXARSearchPath(const char* dir) {
  if (!dir || !*dir) return 1;
  search_paths().emplace_back(dir);
  return 0;
}

int QVUE_LoadXAR(const char* name) {
  QVLRT_ENV env = QVLRT_GetEnv(0);
  if (!env || !name || !*name) return 1;
  lua_State* L = QVLRT_GetLuaState(QVLRT_GetRuntime(env, 0));
  for (const std::string& base : search_paths()) {
    auto folders = qv_engine::os::subfolders(base);
    std::sort(folders.begin(), folders.end());  // "first" must not depend on the file system
    for (const std::string& f : folders) {
      if (!same_name(f, name)) continue;
      const std::string dir = join(base, f);
      const std::string script = join(dir, "onload.lua");
      std::string code;
      if (!qv_engine::os::read_file(script, code)) {
        qv_engine::report_error(name, ("cannot read " + script).c_str());
        return 1;
      }
      add_package_path(L, dir);
      const std::string chunk = "@" + qv_engine::os::native_path(script);
      if (luaL_loadbuffer(L, code.data(), code.size(), chunk.c_str()) != 0) {
        qv_engine::report_error(name, lua_tostring(L, -1));
        lua_pop(L, 1);
        return 1;
      }
      return QVLRT_LuaCall(L, 0, 0, script.c_str());
    }
  }
  qv_engine::report_error(name, "package not found under the search paths");
  return 1;
}
