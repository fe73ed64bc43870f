// The completion of a job started from Lua that reports back once: the Lua function is held in
// the registry and called with the job's id and result (two integers), through the runtime's
// protected call with the context "CLuaEvent::Call". Calling it, or discarding it, frees it.
#pragma once

#include "luabind/lua_event.h"

#include <cstdint>

namespace luabind {

class LuaAsynFunctionCallback {
 public:
  // A callback for the function at index; null when the value there is not a function.
  static LuaAsynFunctionCallback* FromArgument(lua_State* L, int index);

  // UI thread. Calls the function with id and result, then frees this object.
  void OnComplete(std::int32_t id, std::int32_t result);
  // UI thread. Frees this object without a call.
  void Discard();

 private:
  LuaAsynFunctionCallback() = default;
  CLuaEvent function_;
};

}  // namespace luabind
