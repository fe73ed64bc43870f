// The one argument layer every native Lua method is written on.
//
// Lua is built as C++, so a Lua error is a C++ exception: check_* may be called anywhere in a
// method, with C++ objects alive, and their destructors run when it raises.
//   check_*  raises the runtime's usual argument error ("bad argument #n to 'f' (...)").
//   opt_*    never raises: a missing, nil or wrongly typed value gives the default.
// Numbers become integers by one rule (to_integer): NaN is 0, values beyond the type's range
// (infinities too) clamp to its limits, fractions are cut toward zero.
// Strings are bytes and may hold NUL; the wide forms decode UTF-8 with qv::text.
#pragma once

#include "qv_engine.h"

#include <lauxlib.h>
#include <lua.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

namespace luabind {

template <typename Int>
Int to_integer(lua_Number n) {
  static_assert(std::is_integral<Int>::value, "integers only");
  if (std::isnan(n)) return 0;
  const auto lo = static_cast<lua_Number>(std::numeric_limits<Int>::min());
  const auto hi = static_cast<lua_Number>(std::numeric_limits<Int>::max());
  if (n <= lo) return std::numeric_limits<Int>::min();
  if (n >= hi) return std::numeric_limits<Int>::max();  // hi may round up: compare with >=
  return static_cast<Int>(n);
}

// A number or a numeric string, as Lua's own conversion accepts.
inline bool is_number(lua_State* L, int index) { return lua_isnumber(L, index) != 0; }
// A string or a number (which Lua converts to a string).
inline bool is_string(lua_State* L, int index) {
  const int t = lua_type(L, index);
  return t == LUA_TSTRING || t == LUA_TNUMBER;
}
inline bool is_none_or_nil(lua_State* L, int index) { return lua_type(L, index) <= LUA_TNIL; }

// ---- strings ---------------------------------------------------------------------------------

// The bytes of a string argument (a number is converted on a copy, so the argument itself stays
// a number).
std::string check_string(lua_State* L, int index);
std::string opt_string(lua_State* L, int index, const std::string& def = std::string());
// The same decoded from UTF-8 (ill-formed parts become U+FFFD).
std::wstring check_wstring(lua_State* L, int index);
std::wstring opt_wstring(lua_State* L, int index, const std::wstring& def = std::wstring());

// ---- numbers ---------------------------------------------------------------------------------

lua_Number check_number(lua_State* L, int index);
lua_Number opt_number(lua_State* L, int index, lua_Number def);

template <typename Int = std::int32_t>
Int check_int(lua_State* L, int index) {
  return to_integer<Int>(luaL_checknumber(L, index));
}
template <typename Int = std::int32_t>
Int opt_int(lua_State* L, int index, Int def) {
  return is_number(L, index) ? to_integer<Int>(lua_tonumber(L, index)) : def;
}

// ---- other types -----------------------------------------------------------------------------

// A handle for native code (a window handle): the engine hands them over as light userdata, and
// Lua code may pass one as a number. 0 for anything else.
std::uintptr_t opt_handle(lua_State* L, int index);

// Lua truth (nil and false are false, everything else true); def when the argument is absent.
bool opt_bool(lua_State* L, int index, bool def);
// Raises unless the value is a function.
void check_function(lua_State* L, int index);
// Raises unless the value is a table.
void check_table(lua_State* L, int index);

// The native object of class `class_name` at `index` (1 for a method's self); raises the usual
// argument error for anything else. Null when the object has already been released.
template <typename T>
T* check_object(lua_State* L, const char* class_name, int index = 1) {
  auto** block = static_cast<T**>(luaL_checkudata(L, index, class_name));
  return block ? *block : nullptr;
}

// ---- pushing results -------------------------------------------------------------------------

void push_string(lua_State* L, const std::string& bytes);
void push_wstring(lua_State* L, const std::wstring& text);  // as UTF-8

// Sets t[key] = value on the table on top of the stack.
void set_field(lua_State* L, const char* key, const std::string& value);
void set_field(lua_State* L, const char* key, const std::wstring& value);
void set_field(lua_State* L, const char* key, const char* value);
// Integers go in as Lua numbers, so 64-bit values stay whole where lua_Integer has 32 bits.
template <typename Int, typename = std::enable_if_t<std::is_integral<Int>::value &&
                                                    !std::is_same<Int, bool>::value>>
void set_field(lua_State* L, const char* key, Int value) {
  lua_pushnumber(L, static_cast<lua_Number>(value));
  lua_setfield(L, -2, key);
}
void set_number(lua_State* L, const char* key, lua_Number value);
void set_bool(lua_State* L, const char* key, bool value);

}  // namespace luabind
