// Registration of the LuaDispatch classes. Kept apart from the bridge's sources, which see the
// Windows headers (their RegisterClass macro would rename the call).
#include "lua_dispatch_methods.h"
#include "luabind/lua_dispatch.h"
#include "luabind/registration.h"

namespace luabind {

void RegisterLuaDispatchFactory(QVLRT_ENV env) {
  RegisterGlobal(env, kLuaDispatchFactoryObject, kLuaDispatchFactoryClass,
                 kLuaDispatchFactoryMethods, LuaDispatchFactoryInstance);
}

void RegisterLuaDispatchClass(QVLRT_ENV env) {
  RegisterClass(env, kLuaDispatchClass, kLuaDispatchMethods);
}

}  // namespace luabind
