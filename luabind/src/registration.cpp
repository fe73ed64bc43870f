// Shorthands for registering one native Lua class or global object with the engine.
#include "luabind/registration.h"

namespace luabind {

void RegisterGlobal(QVLRT_ENV env, const char* obj_name, const char* class_name,
                    const QVLRT_METHOD* methods, QVLRT_FACTORY factory) {
  if (!env) return;
  QVLRT_GLOBAL_OBJ desc{};
  desc.factory = factory;
  desc.user = 0;
  desc.obj_name = obj_name;
  desc.class_name = class_name;
  desc.methods = methods;
  QVLRT_RegisterGlobalObj(env, desc);
}

void RegisterClass(QVLRT_ENV env, const char* class_name, const QVLRT_METHOD* methods) {
  if (!env) return;
  QVLRT_RegisterClass(env, class_name, methods, 0, 0);
}

}  // namespace luabind
