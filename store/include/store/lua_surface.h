// What a Lua-facing object of the store offers to the binding: its class and object names and
// its methods in table order. Each method takes the object as argument 1, a userdata block
// holding one pointer to the native object with the class's metatable.
#pragma once

#include <lua.hpp>

namespace store {

struct lua_method {
  const char* name;
  lua_CFunction function;
};

struct lua_surface {
  const char* object_name;
  const char* class_name;
  const lua_method* methods;  // ends with a {nullptr, nullptr} entry
};

}  // namespace store
