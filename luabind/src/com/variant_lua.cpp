#include "variant_lua.h"

#include "qv/text.h"

namespace luabind::com {

bool VariantToLua(const VARIANT& v, lua_arg* out) {
  switch (v.vt) {
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL:
    case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_INT: case VT_UINT: {
      variant r8;
      // The change reads its source only; some SDK headers declare it without const.
      if (FAILED(VariantChangeType(r8.get(), const_cast<VARIANT*>(&v), 0, VT_R8))) return false;
      out->type = lua_arg::number;
      out->n = r8->dblVal;
      return true;
    }
    case VT_BSTR:
      out->type = lua_arg::string;
      out->s = qv::text::utf16_to_utf8(bstr::units(v.bstrVal));
      return true;
    case VT_BOOL:
      out->type = lua_arg::boolean;
      out->b = v.boolVal != 0;
      return true;
    default:
      return false;
  }
}

void PushLuaArg(lua_State* L, const lua_arg& arg) {
  switch (arg.type) {
    case lua_arg::number: lua_pushnumber(L, arg.n); break;
    case lua_arg::boolean: lua_pushboolean(L, arg.b ? 1 : 0); break;
    case lua_arg::string: lua_pushlstring(L, arg.s.data(), arg.s.size()); break;
  }
}

bool LuaToVariant(lua_State* L, int index, variant* out) {
  out->clear();
  switch (lua_type(L, index)) {
    case LUA_TBOOLEAN:
      (*out)->vt = VT_BOOL;
      (*out)->boolVal = lua_toboolean(L, index) ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    case LUA_TNUMBER:
      (*out)->vt = VT_R8;
      (*out)->dblVal = lua_tonumber(L, index);
      return true;
    case LUA_TSTRING: {
      std::size_t n = 0;
      const char* s = lua_tolstring(L, index, &n);
      bstr text(qv::text::utf8_to_utf16(s, n));
      if (!text) return false;
      out->set_bstr(std::move(text));
      return true;
    }
    default:
      return false;
  }
}

}  // namespace luabind::com
