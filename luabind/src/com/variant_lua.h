// The value conversions between page arguments (VARIANTs) and Lua values.
#pragma once

#include "com_raii.h"

#include <lua.h>

#include <string>

namespace luabind::com {

// A page argument converted for Lua: a number, a boolean or a UTF-8 string.
struct lua_arg {
  enum kind { number, boolean, string } type = number;
  double n = 0;
  bool b = false;
  std::string s;
};

// The number types (VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2,
// VT_UI4, VT_INT, VT_UINT) become numbers through the system's change to VT_R8, VT_BSTR a UTF-8
// string and VT_BOOL a boolean (any non-zero value is true). False for every other type,
// VT_EMPTY, VT_NULL and by-reference values included, and for a number the change refuses.
bool VariantToLua(const VARIANT& v, lua_arg* out);
void PushLuaArg(lua_State* L, const lua_arg& arg);

// A boolean, number or string at index as VT_BOOL, VT_R8 or VT_BSTR (UTF-8 decoded to UTF-16);
// false for every other Lua type (and for a string that cannot be allocated).
bool LuaToVariant(lua_State* L, int index, variant* out);

}  // namespace luabind::com
