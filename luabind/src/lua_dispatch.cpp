// The Lua side of LuaDispatch (registered by lua_dispatch_registration.cpp, away from the
// Windows headers' RegisterClass macro). The userdata holds the object's one Lua reference;
// __gc lets it go, and the object lives on while a page still holds its own.
#include "luabind/lua_dispatch.h"

#include "com/variant_lua.h"
#include "lua_dispatch_object.h"
#include "luabind/args.h"
#include "lua_dispatch_methods.h"

#include <cstdint>
#include <vector>

namespace luabind {

using namespace com;  // the SDK's names on Windows, the portable declaration's on Linux

namespace {

LuaDispatch* check(lua_State* L) { return check_object<LuaDispatch>(L, kLuaDispatchClass); }

struct CLuaDispatchFactory {};

int CreateLuaDispatch(lua_State* L) {
  if (!check_object<CLuaDispatchFactory>(L, kLuaDispatchFactoryClass)) return 0;
  com_ptr<LuaDispatch> object = LuaDispatch::Create();
  if (!object) return 0;
  QVLRT_PushQVObject(L, kLuaDispatchClass, object.get());
  object.detach();  // the userdata's reference from here on
  return 1;
}

int Gc(lua_State* L) {
  auto** block = static_cast<LuaDispatch**>(luaL_checkudata(L, 1, kLuaDispatchClass));
  if (block && *block) {
    LuaDispatch* object = *block;
    *block = nullptr;
    object->Release();
  }
  return 0;
}

// The object's IDispatch pointer; no reference is taken for it.
int GetDispatch(lua_State* L) {
  LuaDispatch* d = check(L);
  if (!d) return 0;
  lua_pushlightuserdata(L, static_cast<IDispatch*>(d));
  return 1;
}

// (name, function) -> cookie; 0 when the value is not a function (the name gets its DISPID
// all the same).
int RegisterFunction(lua_State* L) {
  LuaDispatch* d = check(L);
  if (!d) return 0;
  const std::wstring name = check_wstring(L, 2);
  lua_pushnumber(L, d->RegisterFunction(L, name, 3));
  return 1;
}

// (name [, cookie]): that function, or every function of the name when the cookie is absent,
// nil or 0.
int UnregisterFunction(lua_State* L) {
  LuaDispatch* d = check(L);
  if (!d) return 0;
  const std::wstring name = check_wstring(L, 2);
  if (is_none_or_nil(L, 3)) {
    d->UnregisterFunction(name, 0);
    return 0;
  }
  const auto n = check_int<std::int64_t>(L, 3);
  if (n == 0) d->UnregisterFunction(name, 0);
  else if (n > 0 && n <= 0xFFFFFFFF) d->UnregisterFunction(name, static_cast<std::uint32_t>(n));
  // anything else is no cookie of ours
  return 0;
}

// (name, arguments...): would call the page-side handlers of the name with the arguments up to
// the first nil; no page hands handlers to this object, so it returns nothing.
int FireEvent(lua_State* L) {
  LuaDispatch* d = check(L);
  if (!d) return 0;
  check_wstring(L, 2);
  std::vector<variant> args;
  for (int i = 3; !is_none_or_nil(L, i); ++i) {
    variant v;
    if (!LuaToVariant(L, i, &v)) return 0;
    args.push_back(std::move(v));
  }
  return 0;
}

// (name): removes the page-side handlers of the name, of which there are none.
int DetachEvent(lua_State* L) {
  LuaDispatch* d = check(L);
  if (!d) return 0;
  check_wstring(L, 2);
  return 0;
}

}  // namespace

const QVLRT_METHOD kLuaDispatchFactoryMethods[] = {
    {"CreateLuaDispatch", CreateLuaDispatch, 0},
    {nullptr, nullptr, 0},
};

const QVLRT_METHOD kLuaDispatchMethods[] = {
    {"__gc", Gc, 0},
    {"GetDispatch", GetDispatch, 0},
    {"RegisterFunction", RegisterFunction, 0},
    {"UnregisterFunction", UnregisterFunction, 0},
    {"DetachEvent", DetachEvent, 0},
    {"FireEvent", FireEvent, 0},
    {nullptr, nullptr, 0},
};

void* LuaDispatchFactoryInstance(std::uintptr_t) {
  static CLuaDispatchFactory factory;
  return &factory;
}

}  // namespace luabind
