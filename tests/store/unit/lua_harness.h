// A bare Lua state with store objects installed the way the runtime presents global objects:
// a userdata holding one pointer, with the class's metatable.
#pragma once

#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include <string>

#include "qv_engine.h"

namespace store_test {

class lua_harness {
 public:
  lua_harness() : L(luaL_newstate()) { luaL_openlibs(L); }
  ~lua_harness() { lua_close(L); }
  lua_harness(const lua_harness&) = delete;
  lua_harness& operator=(const lua_harness&) = delete;

  void install(const char* class_name, const QVLRT_METHOD* methods, void* object,
               const char* global) {
    luaL_newmetatable(L, class_name);
    lua_newtable(L);
    for (const QVLRT_METHOD* m = methods; m->name != nullptr; ++m) {
      lua_pushcfunction(L, m->func);
      lua_setfield(L, -2, m->name);
    }
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);
    *static_cast<void**>(lua_newuserdata(L, sizeof(void*))) = object;
    luaL_getmetatable(L, class_name);
    lua_setmetatable(L, -2);
    lua_setglobal(L, global);
  }

  // Runs a chunk; empty on success, else the error message.
  std::string run(const std::string& chunk) {
    if (luaL_dostring(L, chunk.c_str()) == 0) return {};
    std::string err = lua_tostring(L, -1) ? lua_tostring(L, -1) : "?";
    lua_pop(L, 1);
    return err;
  }

  // Evaluates an expression to a string (tostring of the result).
  std::string eval(const std::string& expr) {
    const std::string err = run("__r = tostring(" + expr + ")");
    if (!err.empty()) return "error: " + err;
    lua_getglobal(L, "__r");
    std::string r = lua_tostring(L, -1);
    lua_pop(L, 1);
    return r;
  }

  lua_State* const L;
};

}  // namespace store_test
