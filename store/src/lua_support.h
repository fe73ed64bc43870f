// Small helpers for the store's Lua methods. Lua raises errors with longjmp, which skips C++
// destructors: every method reads and checks its arguments first, while no C++ object with a
// destructor is alive, and only then does its work.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include "luabind/lua_event.h"
#include "qv_engine.h"

namespace store::lua {

// A string argument as bytes (may hold zero bytes); raises a Lua argument error when missing.
struct string_arg {
  const char* data;
  std::size_t size;
  std::string str() const { return std::string(data, size); }
};
inline string_arg check_string(lua_State* L, int index) {
  std::size_t n = 0;
  const char* s = luaL_checklstring(L, index, &n);
  return {s, n};
}
inline string_arg opt_string(lua_State* L, int index) {
  std::size_t n = 0;
  const char* s = lua_tolstring(L, index, &n);
  return s ? string_arg{s, n} : string_arg{"", 0};
}

// Numbers to integers without undefined conversions: NaN is 0, out-of-range values clamp.
template <class Int>
Int clamp_number(lua_Number n) {
  if (std::isnan(n)) return 0;
  const auto lo = static_cast<lua_Number>(std::numeric_limits<Int>::min());
  const auto hi = static_cast<lua_Number>(std::numeric_limits<Int>::max());
  if (n <= lo) return std::numeric_limits<Int>::min();
  if (n >= hi) return std::numeric_limits<Int>::max();
  return static_cast<Int>(n);
}
inline std::int32_t to_int32(lua_State* L, int index) {
  return clamp_number<std::int32_t>(lua_tonumber(L, index));
}
inline std::int64_t to_int64(lua_State* L, int index) {
  return clamp_number<std::int64_t>(lua_tonumber(L, index));
}

// Calls the function pushed below nargs arguments through the runtime's protected call (errors
// go to its log) and leaves the stack as it was before the push.
inline void call(lua_State* L, int nargs) {
  const int top = lua_gettop(L) - nargs - 1;
  QVLRT_LuaCall(L, nargs, 0, "CLuaEvent::Call");
  lua_settop(L, top);
}

// Pushes a held listener's function.
inline void push(const luabind::CLuaEvent& fn) {
  lua_rawgeti(fn.state(), LUA_REGISTRYINDEX, fn.ref());
}

inline void set_field(lua_State* L, const char* key, const std::string& value) {
  lua_pushstring(L, key);
  lua_pushlstring(L, value.data(), value.size());
  lua_settable(L, -3);
}
inline void set_field(lua_State* L, const char* key, lua_Integer value) {
  lua_pushstring(L, key);
  lua_pushinteger(L, value);
  lua_settable(L, -3);
}
inline void set_number(lua_State* L, const char* key, lua_Number value) {
  lua_pushstring(L, key);
  lua_pushnumber(L, value);
  lua_settable(L, -3);
}
inline void set_bool(lua_State* L, const char* key, bool value) {
  lua_pushstring(L, key);
  lua_pushboolean(L, value ? 1 : 0);
  lua_settable(L, -3);
}

}  // namespace store::lua
