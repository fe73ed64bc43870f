// The Lua runtime: one Lua 5.1 state per environment, classes as metatables, global objects
// created on the first read of their name, protected calls that log their errors.
#include "qv_engine.h"

#include "file_paths.h"
#include "engine_os.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <lauxlib.h>
#include <lualib.h>

struct qvlrt_env {
  lua_State* L = nullptr;
  struct global_obj {
    QVLRT_FACTORY factory;
    std::uintptr_t user;
    std::string class_name;
  };
  std::map<std::string, global_obj> globals;
  std::vector<std::string> registrations;  // in their order, as QVLRT_GetRegistration gives them
};

struct qvlrt_chunk {
  lua_State* L;
  int ref;
};

namespace {

// "" when there is no temporary folder: the errors then go to standard error only.
std::string& log_path() {
  static std::string p = [] {
    const std::string dir = qv_engine::os::temp_dir();
    return dir.empty() ? dir : dir + "engine.log";
  }();
  return p;
}

void report(const char* context, const char* message) {
  std::string line = std::string(context ? context : "(call)") + ": " +
                     (message ? message : "(error object is not a string)") + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  if (!log_path().empty()) qv_engine::os::append_file(log_path(), line);
}

// Adds a stack traceback to the error message.
int traceback(lua_State* L) {
  if (!lua_isstring(L, 1)) return 1;
  lua_getfield(L, LUA_GLOBALSINDEX, "debug");
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    return 1;
  }
  lua_getfield(L, -1, "traceback");
  if (!lua_isfunction(L, -1)) {
    lua_pop(L, 2);
    return 1;
  }
  lua_pushvalue(L, 1);
  lua_pushinteger(L, 2);
  lua_call(L, 2, 1);
  return 1;
}

void push_userdata(lua_State* L, const std::string& class_name, void* object) {
  void** block = static_cast<void**>(lua_newuserdata(L, sizeof(void*)));
  *block = object;
  luaL_newmetatable(L, class_name.c_str());  // the class's metatable (made empty if unknown)
  lua_setmetatable(L, -2);
}

// Registry key of the table that maps each global object (light userdata) to its userdata, so
// that names registered for one object and class give the same userdata.
const char kGlobalUserdata[] = "qvlrt.global_userdata";

// Pushes the userdata of a global object: the one made for an earlier name when the object and
// its class are the same, else a new one.
void push_global_userdata(lua_State* L, const std::string& class_name, void* object) {
  lua_getfield(L, LUA_REGISTRYINDEX, kGlobalUserdata);
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    lua_newtable(L);
    lua_pushvalue(L, -1);
    lua_setfield(L, LUA_REGISTRYINDEX, kGlobalUserdata);
  }
  lua_pushlightuserdata(L, object);
  lua_rawget(L, -2);
  if (lua_type(L, -1) == LUA_TUSERDATA && lua_getmetatable(L, -1)) {
    luaL_getmetatable(L, class_name.c_str());
    const bool same_class = lua_rawequal(L, -1, -2) != 0;
    lua_pop(L, 2);
    if (same_class) {
      lua_remove(L, -2);  // the map
      return;
    }
  }
  lua_pop(L, 1);
  push_userdata(L, class_name, object);
  lua_pushlightuserdata(L, object);
  lua_pushvalue(L, -2);
  lua_rawset(L, -4);
  lua_remove(L, -2);  // the map
}

// __index of the globals table: the first read of a global object's name creates it.
int global_index(lua_State* L) {
  auto* env = static_cast<qvlrt_env*>(lua_touserdata(L, lua_upvalueindex(1)));
  if (lua_type(L, 2) != LUA_TSTRING) return 0;
  auto it = env->globals.find(lua_tostring(L, 2));
  if (it == env->globals.end()) return 0;
  void* object = it->second.factory ? it->second.factory(it->second.user) : nullptr;
  if (!object) return 0;  // the factory is asked again on the next read
  push_global_userdata(L, it->second.class_name, object);
  lua_pushvalue(L, 2);
  lua_pushvalue(L, -2);
  lua_rawset(L, 1);  // later reads find the same object without asking again
  return 1;
}

void register_methods(lua_State* L, const char* class_name, const QVLRT_METHOD* methods) {
  luaL_newmetatable(L, class_name);
  lua_pushvalue(L, -1);
  lua_setfield(L, -2, "__index");
  for (const QVLRT_METHOD* m = methods; m && (m->name || m->func); ++m) {
    if (!m->name || !m->func) continue;
    lua_pushcfunction(L, m->func);
    lua_setfield(L, -2, m->name);
  }
  lua_pop(L, 1);
}

int bitmap_gc(lua_State* L) {
  auto** block = static_cast<QV_BITMAP*>(luaL_checkudata(L, 1, QV_BITMAP_CLASS));
  if (block && *block) {
    QV_ReleaseBitmap(*block);
    *block = nullptr;
  }
  return 0;
}

int bitmap_size(lua_State* L) {
  auto** block = static_cast<QV_BITMAP*>(luaL_checkudata(L, 1, QV_BITMAP_CLASS));
  int w = 0, h = 0;
  if (!block || !*block || !QV_GetBitmapBuffer(*block, &w, &h)) return 0;
  lua_pushinteger(L, w);
  lua_pushinteger(L, h);
  return 2;
}

const QVLRT_METHOD kBitmapMethods[] = {
    {"__gc", bitmap_gc, 0}, {"GetSize", bitmap_size, 0}, {nullptr, nullptr, 0}};

qvlrt_env* make_env() {
  // Lives until process exit on purpose: objects that Lua owns may reach services that are
  // gone by the time static destructors run, so the state is never closed.
  auto* env = new qvlrt_env;
  env->L = luaL_newstate();
  if (!env->L) return env;
  luaL_openlibs(env->L);
  qv_engine::accept_either_separator(env->L);
  lua_pushvalue(env->L, LUA_GLOBALSINDEX);
  lua_newtable(env->L);
  lua_pushlightuserdata(env->L, env);
  lua_pushcclosure(env->L, global_index, 1);
  lua_setfield(env->L, -2, "__index");
  lua_setmetatable(env->L, -2);
  lua_pop(env->L, 1);
  register_methods(env->L, QV_BITMAP_CLASS, kBitmapMethods);
  return env;
}

}  // namespace

QVLRT_ENV QVLRT_GetEnv(int) {
  static qvlrt_env* env = make_env();
  return env->L ? env : nullptr;
}

QVLRT_RUNTIME QVLRT_GetRuntime(QVLRT_ENV env, int) { return env; }

lua_State* QVLRT_GetLuaState(QVLRT_RUNTIME runtime) { return runtime ? runtime->L : nullptr; }

int QVLRT_RegisterClass(QVLRT_ENV env, const char* class_name, const QVLRT_METHOD* methods, int,
                        int) {
  if (!env || !class_name || !*class_name) return 1;
  register_methods(env->L, class_name, methods);
  env->registrations.push_back(std::string("class ") + class_name);
  return 0;
}

int QVLRT_RegisterGlobalObj(QVLRT_ENV env, QVLRT_GLOBAL_OBJ desc) {
  if (!env || !desc.obj_name || !*desc.obj_name || !desc.class_name || !*desc.class_name)
    return 1;
  register_methods(env->L, desc.class_name, desc.methods);
  env->globals[desc.obj_name] = {desc.factory, desc.user, desc.class_name};
  env->registrations.push_back(std::string("global ") + desc.obj_name + " " + desc.class_name);
  return 0;
}

int QVLRT_PushQVObject(lua_State* L, const char* class_name, void* object) {
  if (!L || !class_name) return 1;
  push_userdata(L, class_name, object);
  return 0;
}

int QVLRT_LuaCall(lua_State* L, int nargs, int nresults, const char* context) {
  if (!L) return 1;
  const int base = lua_gettop(L) - nargs;  // the function's index
  if (nargs < 0 || base < 1) {
    report(context, "nothing to call");
    for (int i = 0; i < nresults; ++i) lua_pushnil(L);
    return 1;
  }
  lua_pushcfunction(L, traceback);
  lua_insert(L, base);
  const int r = lua_pcall(L, nargs, nresults, base);
  if (r != 0) {
    report(context, lua_tostring(L, -1));
    lua_settop(L, base - 1);  // the error and the handler
    for (int i = 0; i < nresults; ++i) lua_pushnil(L);
    return r;
  }
  lua_remove(L, base);
  return 0;
}

int QVLRT_CreateChunkFromModule(QVLRT_RUNTIME runtime, const char* chunk_name, const char* path,
                                const char* entry, QVLRT_CHUNK* out) {
  if (out) *out = nullptr;
  if (!runtime || !path || !entry || !out) return 1;
  lua_State* L = runtime->L;
  const char* context = chunk_name ? chunk_name : path;
  std::string code;
  if (!qv_engine::os::read_file(path, code)) return 1;  // a missing module is not an error
  // A module that defines no entry must not pick up the one an earlier module left behind.
  lua_pushnil(L);
  lua_setfield(L, LUA_GLOBALSINDEX, entry);
  const std::string chunk = "@" + qv_engine::os::native_path(path);
  if (luaL_loadbuffer(L, code.data(), code.size(), chunk.c_str()) != 0) {
    report(context, lua_tostring(L, -1));
    lua_pop(L, 1);
    return 1;
  }
  if (QVLRT_LuaCall(L, 0, 0, context) != 0) return 1;
  lua_getfield(L, LUA_GLOBALSINDEX, entry);
  if (!lua_isfunction(L, -1)) {
    lua_pop(L, 1);
    report(context, (std::string("no function ") + entry + " in " + path).c_str());
    return 1;
  }
  // Freed by QVLRT_ReleaseChunk, as the calling convention of the chunk functions requires.
  *out = new qvlrt_chunk{L, luaL_ref(L, LUA_REGISTRYINDEX)};
  return 0;
}

int QVLRT_PrepareChunk(QVLRT_RUNTIME runtime, QVLRT_CHUNK chunk) {
  if (!runtime || !chunk || chunk->L != runtime->L) return 1;
  lua_rawgeti(chunk->L, LUA_REGISTRYINDEX, chunk->ref);
  return 0;
}

void QVLRT_ReleaseChunk(QVLRT_CHUNK chunk) {
  if (!chunk) return;
  luaL_unref(chunk->L, LUA_REGISTRYINDEX, chunk->ref);
  delete chunk;
}

const char* QVLRT_GetLogPath() { return log_path().c_str(); }

const char* QVLRT_GetRegistration(QVLRT_ENV env, int index) {
  if (!env || index < 0 || static_cast<std::size_t>(index) >= env->registrations.size()) return nullptr;
  return env->registrations[static_cast<std::size_t>(index)].c_str();
}

// Used by the loader, which runs package scripts in the default environment.
namespace qv_engine {
void report_error(const char* context, const char* message) { report(context, message); }
}  // namespace qv_engine
