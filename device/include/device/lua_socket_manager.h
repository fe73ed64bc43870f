// The Lua surface of the device channel: "Socket.Manager.Class" (one object per device) and the
// global object "LuaAsyncSocketFactory" (class "LuaAsyncSocketFactory.Class") that makes them.
#pragma once

#include "device/socket_message_manager.h"
#include "qv_engine.h"

#include <lua.h>

namespace device {

constexpr const char* kSocketManagerClass = "Socket.Manager.Class";
constexpr const char* kSocketFactoryObject = "LuaAsyncSocketFactory";
constexpr const char* kSocketFactoryClass = "LuaAsyncSocketFactory.Class";

// The Lua class over socket_message_manager. Callbacks and the listener are Lua functions held
// as registry references and called through QVLRT_LuaCall ("CLuaEvent::Call").
class CLuaSocketMessageManager : public socket_message_manager {
 public:
  explicit CLuaSocketMessageManager(std::string device_id, port_table ports = default_ports());

  // Pushes a new object of "Socket.Manager.Class" that Lua owns (freed by its __gc).
  static void Push(lua_State* L, std::string device_id, port_table ports = default_ports());
};

// Registration, each in its place of the program's fixed registration order.
void RegisterSocketManagerClass(QVLRT_ENV env);
void RegisterAsyncSocketFactory(QVLRT_ENV env);

// Pushes the arguments (integers and numbers as Lua numbers, strings, arrays from index 1,
// records as tables with their keys); returns how many were pushed.
int PushAgentValues(lua_State* L, const agent_values& args);

}  // namespace device
