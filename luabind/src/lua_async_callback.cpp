#include "luabind/lua_async_callback.h"

#include <memory>

namespace luabind {

LuaAsynFunctionCallback* LuaAsynFunctionCallback::FromArgument(lua_State* L, int index) {
  std::unique_ptr<LuaAsynFunctionCallback> cb(new LuaAsynFunctionCallback());
  if (!cb->function_.Hold(L, index)) return nullptr;
  return cb.release();
}

void LuaAsynFunctionCallback::OnComplete(std::int32_t id, std::int32_t result) {
  std::unique_ptr<LuaAsynFunctionCallback> self(this);
  function_.Fire([id, result](lua_State* L) {
    lua_pushinteger(L, static_cast<lua_Integer>(id));
    lua_pushinteger(L, static_cast<lua_Integer>(result));
    return 2;
  });
}

void LuaAsynFunctionCallback::Discard() { delete this; }

}  // namespace luabind
