// Runs Lua code in the test process's engine, against "Win32Shell.Object" or another desktop object
// that the test registered first.
#pragma once

#include "desktop/win32_shell.h"

#include <gtest/gtest.h>

#include <lauxlib.h>

#include <string>

namespace shell_test {

inline lua_State* state() { return QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0)); }

// Runs the code; the value of the global "result" as a string ("" when the code raised).
inline std::string run_lua(const std::string& code) {
  lua_State* L = state();
  const int top = lua_gettop(L);
  EXPECT_EQ(luaL_loadstring(L, code.c_str()), 0);
  if (QVLRT_LuaCall(L, 0, 0, "test") != 0) return "";
  lua_getglobal(L, "result");
  std::string r = lua_isstring(L, -1) ? lua_tostring(L, -1) : "(not a string)";
  lua_settop(L, top);
  return r;
}

// The same with "Win32Shell.Object" registered.
inline std::string run(const std::string& code) {
  static const bool registered = (desktop::RegisterWin32Shell(QVLRT_GetEnv(0)), true);
  (void)registered;
  return run_lua(code);
}

// The object as a local "o", in front of test code.
inline std::string obj() { return "local o = _G['Win32Shell.Object'] "; }

}  // namespace shell_test
