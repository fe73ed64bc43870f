#include "desktop/win32_shell.h"

#include "qv/message_loop.h"

#include <gtest/gtest.h>

#include <lauxlib.h>

#include <string>

namespace {

lua_State* state() { return QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0)); }

// Runs the code; the value of the global "result" as a string ("" when the code raised).
std::string run(const std::string& code) {
  static const bool registered = (desktop::RegisterWin32Shell(QVLRT_GetEnv(0)), true);
  (void)registered;
  lua_State* L = state();
  const int top = lua_gettop(L);
  EXPECT_EQ(luaL_loadstring(L, code.c_str()), 0);
  if (QVLRT_LuaCall(L, 0, 0, "test") != 0) return "";
  lua_getglobal(L, "result");
  std::string r = lua_isstring(L, -1) ? lua_tostring(L, -1) : "(not a string)";
  lua_settop(L, top);
  return r;
}

TEST(Win32Shell, TicksAndEndsTheLoop) {
  EXPECT_EQ(run("local t = _G['Win32Shell.Object']:GetTickCount() "
                "result = type(t) .. tostring(t >= 0 and t == math.floor(t))"),
            "numbertrue");
  // With "." the exit code is argument 1; with ":" it is the object, which reads as 0.
  EXPECT_EQ(run("_G['Win32Shell.Object'].PostQuitMessage(3) result = ''"), "");
  EXPECT_EQ(qv::loop::run(), 3);
  EXPECT_EQ(run("_G['Win32Shell.Object']:PostQuitMessage(5) result = ''"), "");
  EXPECT_EQ(qv::loop::run(), 0);
}

}  // namespace
