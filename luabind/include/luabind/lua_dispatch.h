// "LuaDispatchFactory" and "LuaDispatch.Class": COM automation objects whose methods are Lua
// functions, for pages hosted by the UI engine (real COM on Windows, the same object over a
// portable declaration of IDispatch and VARIANT on Linux).
#pragma once

#include "qv_engine.h"

namespace luabind {

constexpr const char* kLuaDispatchFactoryObject = "LuaDispatchFactory";
constexpr const char* kLuaDispatchFactoryClass = "LuaDispatchFactory.Class";
constexpr const char* kLuaDispatchClass = "LuaDispatch.Class";

// Both do nothing when env is null.
void RegisterLuaDispatchFactory(QVLRT_ENV env);  // "LuaDispatchFactory"
void RegisterLuaDispatchClass(QVLRT_ENV env);    // "LuaDispatch.Class"

}  // namespace luabind
