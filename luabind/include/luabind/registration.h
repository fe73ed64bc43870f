// Registers the native Lua classes and global objects with the engine, in their fixed order.
#pragma once

#include "qv_engine.h"

#include <cstdint>

namespace luabind {

// Registration functions of the service modules, which this library does not link: start-up
// fills them before the engine starts, and RegisterLuaObjects calls each in its place in the
// fixed order. An empty entry is skipped.
using ModuleRegistration = void (*)(QVLRT_ENV env);
struct ModuleRegistrations {
  ModuleRegistration download_manager = nullptr;    // "DownloadManger.Manager"
  ModuleRegistration app_taocan_manager = nullptr;  // "AppTaocanManager.Manager"
};
ModuleRegistrations& Modules();

// Does nothing when env is null.
void RegisterLuaObjects(QVLRT_ENV env);

// Shorthands for one registration; both do nothing when env is null.
void RegisterGlobal(QVLRT_ENV env, const char* obj_name, const char* class_name,
                    const QVLRT_METHOD* methods, QVLRT_FACTORY factory);
void RegisterClass(QVLRT_ENV env, const char* class_name, const QVLRT_METHOD* methods);

// "Win32Shell.Object" of class "Win32Shell.Class".
void RegisterWin32Shell(QVLRT_ENV env);

}  // namespace luabind
