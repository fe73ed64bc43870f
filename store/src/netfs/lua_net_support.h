// Small helpers shared by the Lua network and filesystem objects. Lua raises errors with
// longjmp, which skips C++ destructors: methods check their object first (the only check that
// may raise) and only then create C++ objects.
#pragma once

#include "qv_engine.h"

#include <lauxlib.h>
#include <lua.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace store::lua_net {

// A string argument as bytes (may hold zero bytes); empty when it is not a string or number.
inline std::string string_arg(lua_State* L, int index) {
  if (lua_type(L, index) != LUA_TSTRING && lua_type(L, index) != LUA_TNUMBER) return {};
  std::size_t n = 0;
  lua_pushvalue(L, index);  // converting a copy keeps a number argument a number
  const char* s = lua_tolstring(L, -1, &n);
  std::string out(s ? s : "", s ? n : 0);
  lua_pop(L, 1);
  return out;
}

// A number argument as a 32-bit integer: NaN is 0 and values beyond the range are clamped.
inline std::int32_t int32_arg(lua_State* L, int index) {
  const lua_Number n = lua_tonumber(L, index);
  if (std::isnan(n)) return 0;
  if (n <= static_cast<lua_Number>(std::numeric_limits<std::int32_t>::min()))
    return std::numeric_limits<std::int32_t>::min();
  if (n >= static_cast<lua_Number>(std::numeric_limits<std::int32_t>::max()))
    return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(n);
}

// One Lua function held by a native object: the state that attached it and its registry
// reference (LUA_NOREF when empty).
class listener_slot {
 public:
  listener_slot() = default;
  ~listener_slot() { release(); }
  listener_slot(const listener_slot&) = delete;
  listener_slot& operator=(const listener_slot&) = delete;

  // Holds the function at index, releasing any earlier one.
  void hold(lua_State* L, int index) {
    release();
    lua_pushvalue(L, index);
    ref_ = luaL_ref(L, LUA_REGISTRYINDEX);
    L_ = L;
  }
  // True when a function was held.
  bool release() {
    if (!L_) return false;
    luaL_unref(L_, LUA_REGISTRYINDEX, ref_);
    L_ = nullptr;
    ref_ = LUA_NOREF;
    return true;
  }
  bool empty() const { return L_ == nullptr; }

  // Calls the function with what push_args pushes (it returns the count), through the runtime's
  // protected call. The owner of the slot may be gone when this returns: callers touch nothing
  // of theirs afterwards.
  template <typename PushArgs>
  void fire(PushArgs push_args) {
    if (!L_) return;
    lua_State* L = L_;
    const int top = lua_gettop(L);
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref_);
    const int n = push_args(L);
    QVLRT_LuaCall(L, n, 0, "CLuaEvent::Call");
    lua_settop(L, top);
  }

 private:
  lua_State* L_ = nullptr;
  int ref_ = LUA_NOREF;
};

}  // namespace store::lua_net
