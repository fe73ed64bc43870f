// The Lua surface of file transfer and folder copy: "SendFile.Manager.Class",
// "GetFile.Manager.Class" and "DirCopy.Manager.Class". Objects are made by the socket factory
// ("LuaAsyncSocketFactory") and belong to Lua.
#pragma once

#include "qv_engine.h"

#include <lua.h>

#include <cstdint>
#include <string>

namespace device {

constexpr const char* kSendFileClass = "SendFile.Manager.Class";
constexpr const char* kGetFileClass = "GetFile.Manager.Class";
constexpr const char* kDirCopyClass = "DirCopy.Manager.Class";

// Push a new object that Lua owns (freed by __gc or delete_self). device_id is UTF-8.
void PushSendFile(lua_State* L, const std::string& device_id, std::uint16_t port);
void PushGetFile(lua_State* L, const std::string& device_id, std::uint16_t port);
void PushCopyDir(lua_State* L, const std::string& device_id);

// Registration, each in its place of the program's fixed registration order.
void RegisterSendFileClass(QVLRT_ENV env);
void RegisterGetFileClass(QVLRT_ENV env);
void RegisterDirCopyClass(QVLRT_ENV env);

}  // namespace device
