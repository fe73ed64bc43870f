// Native objects that Lua owns: QVLRT_PushQVObject keeps the only pointer to the object in its
// userdata block, so the object lives until Lua collects the userdata. The methods every such
// class shares are written here once; a class's method table names them through a one-line
// function of its own (the class name is its argument).
#pragma once

#include "luabind/args.h"
#include "luabind/lua_event.h"

#include <lauxlib.h>

#include <memory>
#include <string>

namespace luabind {

// "__gc" (and a method that ends the object early): deletes the object once and clears the
// block, so that a later call on the same userdata finds nothing.
template <typename T>
int delete_object(lua_State* L, const char* class_name) {
  auto** block = static_cast<T**>(luaL_checkudata(L, 1, class_name));
  if (block && *block) {
    std::unique_ptr<T> doomed(*block);
    *block = nullptr;
  }
  return 0;
}

// object:attach_event(name, f) and object:detach_event(name) for a class whose objects offer
// `CLuaEvent* slot(const std::string& name)` (null for an unknown name). Only a string names an
// event (a number is not converted). Each gives true when it held or released a function.
template <typename T>
int attach_event(lua_State* L, const char* class_name) {
  T* self = check_object<T>(L, class_name);
  if (!self) return 0;
  CLuaEvent* slot = lua_type(L, 2) == LUA_TSTRING ? self->slot(opt_string(L, 2)) : nullptr;
  lua_pushboolean(L, slot != nullptr && lua_type(L, 3) == LUA_TFUNCTION && slot->Hold(L, 3));
  return 1;
}

template <typename T>
int detach_event(lua_State* L, const char* class_name) {
  T* self = check_object<T>(L, class_name);
  if (!self) return 0;
  CLuaEvent* slot = lua_type(L, 2) == LUA_TSTRING ? self->slot(opt_string(L, 2)) : nullptr;
  lua_pushboolean(L, slot != nullptr && slot->Release());
  return 1;
}

}  // namespace luabind
