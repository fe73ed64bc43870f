// The method tables and the factory of the LuaDispatch classes (lua_dispatch.cpp).
#pragma once

#include "qv_engine.h"

#include <cstdint>

namespace luabind {

extern const QVLRT_METHOD kLuaDispatchFactoryMethods[];
extern const QVLRT_METHOD kLuaDispatchMethods[];
void* LuaDispatchFactoryInstance(std::uintptr_t user);

}  // namespace luabind
