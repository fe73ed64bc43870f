// "Win32Shell.Object" of class "Win32Shell.Class": shell and system functions for the Lua code.
#pragma once

#include "qv_engine.h"

namespace desktop {

void RegisterWin32Shell(QVLRT_ENV env);

}  // namespace desktop
