// "AsyncProcess.Manager" (class "AsyncProcess.Manager.Class"): the process runner for Lua.
//   Init(), UnInit()
//   AddCommand(command line, parse mode, time-out ms, listener) -> id
//   CancleTask(id), CancleAllTask()
// The listener gets (id, output) in mode 0, (id, package, label, icon) in mode 1, and in mode 2
// (id, process id) when a program listens on 127.0.0.1:5037, else (id).
#pragma once

#include "qv_engine.h"

namespace tiv::android {

void RegisterAsyncProcessManager(QVLRT_ENV env);

}  // namespace tiv::android
