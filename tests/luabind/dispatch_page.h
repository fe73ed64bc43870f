// A page's side of LuaDispatch for tests: the Lua objects registered with the engine, Lua code
// run on its state, and calls through IDispatch the way a page script makes them.
#pragma once

#include <gtest/gtest.h>

#include "com_raii.h"
#include "luabind/lua_dispatch.h"
#include "luabind/registration.h"

#include <lauxlib.h>

#include <string>
#include <vector>

namespace dispatch_test {

using namespace luabind::com;

inline lua_State* lua() { return QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0)); }

inline void register_objects() {
  static bool done = false;
  if (done) return;
  done = true;
  QVLRT_ENV env = QVLRT_GetEnv(0);
  luabind::RegisterLuaDispatchFactory(env);
  luabind::RegisterLuaDispatchClass(env);
}

// Runs the code; the global "result" as a string afterwards ("(raised)" when the code raised).
inline std::string run(const std::string& code) {
  lua_State* L = lua();
  const int top = lua_gettop(L);
  EXPECT_EQ(luaL_loadstring(L, code.c_str()), 0) << code;
  if (QVLRT_LuaCall(L, 0, 0, "test") != 0) return "(raised)";
  EXPECT_EQ(lua_gettop(L), top);
  lua_getglobal(L, "result");
  std::string r = lua_isstring(L, -1) ? lua_tostring(L, -1) : "(not a string)";
  lua_pop(L, 1);
  return r;
}

// The page's reference to the IDispatch that the Lua expression yields (a GetDispatch result).
inline com_ptr<IDispatch> page_of(const std::string& lua_expression) {
  lua_State* L = lua();
  const int top = lua_gettop(L);
  EXPECT_EQ(luaL_loadstring(L, ("return " + lua_expression).c_str()), 0);
  QVLRT_LuaCall(L, 0, 1, "test");
  EXPECT_EQ(lua_type(L, -1), LUA_TLIGHTUSERDATA) << lua_expression;
  auto* d = static_cast<IDispatch*>(lua_touserdata(L, -1));
  lua_settop(L, top);
  return com_ptr<IDispatch>::retain(d);
}

inline HRESULT ids_of(IDispatch* d, const std::u16string& name, DISPID* id) {
  std::basic_string<OLECHAR> units(name.begin(), name.end());
  LPOLESTR names[] = {&units[0]};
  return d->GetIDsOfNames(IID_NULL, names, 1, 1024, id);
}

// DISPID of a name the object knows (the test fails when it does not).
inline DISPID id_of(IDispatch* d, const std::u16string& name) {
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(ids_of(d, name, &id), S_OK);
  return id;
}

// Invoke with the arguments as the automation array holds them (element 0 first).
inline HRESULT invoke(IDispatch* d, DISPID id, std::vector<variant>& array, VARIANT* result) {
  std::vector<VARIANT> raw;
  for (variant& v : array) raw.push_back(*v.get());  // shallow: the vector keeps ownership
  DISPPARAMS params{raw.empty() ? nullptr : raw.data(), nullptr,
                    static_cast<UINT>(raw.size()), 0};
  return d->Invoke(id, IID_NULL, 1024, DISPATCH_METHOD, &params, result, nullptr, nullptr);
}

// ---- argument builders -----------------------------------------------------------------------

inline variant v_i4(LONG x) {
  variant v;
  v->vt = VT_I4;
  v->lVal = x;
  return v;
}
inline variant v_r8(double x) {
  variant v;
  v->vt = VT_R8;
  v->dblVal = x;
  return v;
}
inline variant v_bool(VARIANT_BOOL x) {
  variant v;
  v->vt = VT_BOOL;
  v->boolVal = x;
  return v;
}
inline variant v_str(const std::u16string& s) {
  variant v;
  v.set_bstr(bstr(s));
  return v;
}

// The text of a VT_BSTR variant as UTF-16.
inline std::u16string units_of(const VARIANT& v) { return bstr::units(v.bstrVal); }

}  // namespace dispatch_test
