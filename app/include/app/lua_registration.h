// The native Lua classes and global objects of every module, registered in the fixed order that
// the UI package may depend on.
#pragma once

#include "qv_engine.h"

namespace app {

// Does nothing when env is null.
void RegisterLuaObjects(QVLRT_ENV env);

}  // namespace app
