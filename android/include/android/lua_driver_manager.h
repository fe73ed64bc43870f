// "Driver.Manager" (class "Driver.Manager.Class"): driver installation for Lua, over the
// process's CDriverManager.
//   Init() -> true when the manager runs; UnInit()
//   AddInstallDriver(tag, package path, target name, install type, {arguments}, listener) -> id
//   CancleTask(id), CancleAllTask()
//   GetDriverURL(a, b) -> package name, target name, install type
// The listener gets (id, tag, exit code) once.
#pragma once

#include "qv_engine.h"

namespace tiv::android {

void RegisterDriverManager(QVLRT_ENV env);

}  // namespace tiv::android
