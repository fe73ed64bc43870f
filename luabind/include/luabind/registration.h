// Helpers with which each module registers its native Lua classes and global objects.
#pragma once

#include "qv_engine.h"

#include <cstdint>

namespace luabind {

// Shorthands for one registration; both do nothing when env is null.
void RegisterGlobal(QVLRT_ENV env, const char* obj_name, const char* class_name,
                    const QVLRT_METHOD* methods, QVLRT_FACTORY factory);
void RegisterClass(QVLRT_ENV env, const char* class_name, const QVLRT_METHOD* methods);

}  // namespace luabind
