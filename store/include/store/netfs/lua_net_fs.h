// The Lua network and filesystem objects: the two HTTP factories with their classes
// "qv.win32.net.asyn_http" and "qv.win32.net.asyn_http_file", and the stateless path, folder,
// file and disk utilities.
#pragma once

#include "qv_engine.h"

namespace store {

// One registration each; all do nothing when env is null.
void RegisterDirUtility(QVLRT_ENV env);   // "qv.filesystem.dir_utility"
void RegisterDiskUtility(QVLRT_ENV env);  // "qv.filesystem.disk_utility"
void RegisterFileUtility(QVLRT_ENV env);  // "qv.filesystem.file_utility"
// "qv.filesystem.path_utility" and "qv.pathsystem.path_utility" (the same object).
void RegisterPathUtility(QVLRT_ENV env);
// The class "qv.win32.net.asyn_http", then its factory "qv.win32.net.asyn_http.factory".
void RegisterAsynHttp(QVLRT_ENV env);
// The class "qv.win32.net.asyn_http_file", then "qv.win32.net.asyn_http_file.factory".
void RegisterAsynHttpFile(QVLRT_ENV env);

// All of the above in their order at the head of the registration list.
void RegisterNetAndFilesystemObjects(QVLRT_ENV env);

}  // namespace store
