// Small helpers for the store's Lua methods. Lua raises errors with longjmp, which skips C++
// destructors: every method reads and checks its arguments first, while no C++ object with a
// destructor is alive, and only then does its work.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include <lua.hpp>

namespace store::lua {

// The native object behind argument 1, or null (the caller then returns no results).
template <class T>
T* self(lua_State* L, const char* class_name) {
  void* block = luaL_checkudata(L, 1, class_name);
  return block ? *static_cast<T**>(block) : nullptr;
}

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

// A Lua function held in the registry; released when this goes away.
class function_ref {
 public:
  // Takes a reference to the function at index; empty when the value is not a function.
  function_ref(lua_State* L, int index) {
    if (lua_type(L, index) != LUA_TFUNCTION) return;
    lua_pushvalue(L, index);
    L_ = L;
    ref_ = luaL_ref(L, LUA_REGISTRYINDEX);
  }
  ~function_ref() {
    if (L_ != nullptr && ref_ != LUA_NOREF && ref_ != LUA_REFNIL) luaL_unref(L_, LUA_REGISTRYINDEX, ref_);
  }
  function_ref(const function_ref&) = delete;
  function_ref& operator=(const function_ref&) = delete;

  explicit operator bool() const { return L_ != nullptr; }
  lua_State* state() const { return L_; }
  // Pushes the function; the caller pushes the arguments and calls call().
  void push() const { lua_rawgeti(L_, LUA_REGISTRYINDEX, ref_); }

 private:
  lua_State* L_ = nullptr;
  int ref_ = LUA_NOREF;
};

// Calls the function pushed below nargs arguments, protected; an error is reported and
// dropped, and the stack is left as it was before the push.
void call(lua_State* L, int nargs, const char* context);

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
