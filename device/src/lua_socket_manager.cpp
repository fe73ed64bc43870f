#include "device/lua_socket_manager.h"

#include "device/lua_file_transfer.h"
#include "luabind/args.h"
#include "luabind/lua_object.h"
#include "luabind/lua_event.h"
#include "luabind/registration.h"
#include "qv/text.h"

#include <lauxlib.h>

#include <memory>

namespace device {
namespace {

void push_value(lua_State* L, const agent_value& v) {
  switch (v.type) {
    case agent_value::kind::integer:
      // As a Lua number: exact for every 32-bit value, where a 32-bit lua_Integer would wrap.
      lua_pushnumber(L, static_cast<lua_Number>(v.integer));
      break;
    case agent_value::kind::number:
      lua_pushnumber(L, static_cast<lua_Number>(v.number));
      break;
    case agent_value::kind::string:
      lua_pushlstring(L, v.text.data(), v.text.size());
      break;
    case agent_value::kind::array: {
      lua_createtable(L, static_cast<int>(v.items.size()), 0);
      int index = 1;
      for (const auto& item : v.items) {
        push_value(L, item);
        lua_rawseti(L, -2, index++);
      }
      break;
    }
    case agent_value::kind::record:
      lua_createtable(L, 0, static_cast<int>(v.fields.size()));
      for (const auto& f : v.fields) {
        lua_pushlstring(L, f.key.data(), f.key.size());
        push_value(L, f.value);
        lua_rawset(L, -3);
      }
      break;
  }
}

// A callback that calls the held Lua function with the decoded arguments. The reference is
// released when the last copy goes (the request's release, or the end of a running call).
agent_callback lua_callback(lua_State* L, int index) {
  auto held = std::make_shared<luabind::CLuaEvent>();
  if (!held->Hold(L, index)) return nullptr;
  return [held](const agent_values& args) {
    if (!lua_checkstack(held->state(), static_cast<int>(args.size()) + 4)) return;
    held->Fire([&](lua_State* S) { return PushAgentValues(S, args); });
  };
}

CLuaSocketMessageManager* check(lua_State* L) {
  return luabind::check_object<CLuaSocketMessageManager>(L, kSocketManagerClass);
}

int Init(lua_State* L) {
  CLuaSocketMessageManager* m = check(L);
  if (m) m->init(lua_callback(L, 2));
  return 0;
}

int Connect(lua_State* L) {
  CLuaSocketMessageManager* m = check(L);
  if (m) m->connect();
  return 0;
}

int SendSocketMessage(lua_State* L) {
  CLuaSocketMessageManager* m = check(L);
  if (!m) return 0;
  const int top = lua_gettop(L);
  const auto code = luabind::opt_int<std::int64_t>(L, 2, 0);
  // Everything between the code and the last argument travels; the last one is the callback.
  std::vector<request_argument> args;
  for (int i = 3; i < top; ++i) {
    switch (lua_type(L, i)) {
      case LUA_TBOOLEAN:
        args.push_back(request_argument::make_boolean(lua_toboolean(L, i) != 0));
        break;
      case LUA_TNUMBER:
        args.push_back(request_argument::make_number(lua_tonumber(L, i)));
        break;
      case LUA_TSTRING:
        args.push_back(request_argument::make_string(luabind::check_string(L, i)));
        break;
      default:
        args.push_back(request_argument::make_other());
        break;
    }
  }
  agent_callback callback = top >= 3 ? lua_callback(L, top) : nullptr;
  const std::uint32_t id = m->send_message(code, args, std::move(callback));
  lua_pushnumber(L, id);
  return 1;
}

int CancleTask(lua_State* L) {
  CLuaSocketMessageManager* m = check(L);
  if (!m) return 0;
  // Ids are 1 and above; anything else names no request.
  const auto id = luabind::opt_int<std::int64_t>(L, 2, 0);
  if (id >= 1 && id <= 0xFFFFFFFF) m->cancel(static_cast<std::uint32_t>(id));
  return 0;
}

int CancleAllTask(lua_State* L) {
  CLuaSocketMessageManager* m = check(L);
  if (m) m->cancel_all();
  return 0;
}

int GetForwardPort(lua_State* L) {
  CLuaSocketMessageManager* m = check(L);
  if (!m) return 0;
  lua_pushnumber(L, m->forward_port(luabind::opt_int<std::int64_t>(L, 2, 0)));
  return 1;
}

int UnInit(lua_State* L) {
  CLuaSocketMessageManager* m = check(L);
  if (m) m->uninit();
  return 0;
}

int Gc(lua_State* L) {
  return luabind::delete_object<CLuaSocketMessageManager>(L, kSocketManagerClass);
}

const QVLRT_METHOD kManagerMethods[] = {
    {"Init", Init, 0},
    {"Connect", Connect, 0},
    {"SendSocketMessage", SendSocketMessage, 0},
    {"CancleTask", CancleTask, 0},
    {"CancleAllTask", CancleAllTask, 0},
    {"GetForwardPort", GetForwardPort, 0},
    {"UnInit", UnInit, 0},
    {"__gc", Gc, 0},
    {nullptr, nullptr, 0},
};

struct CLuaAsyncSocketFactory {};

int CreateAsyncSocket(lua_State* L) {
  if (!luabind::check_object<CLuaAsyncSocketFactory>(L, kSocketFactoryClass)) return 0;
  if (lua_type(L, 2) != LUA_TSTRING) return 0;
  // Kept as the wide device identifier would give it back: malformed UTF-8 becomes U+FFFD.
  CLuaSocketMessageManager::Push(L, qv::text::wide_to_utf8(luabind::check_wstring(L, 2)));
  return 1;
}

int CreateGetFile(lua_State* L) {
  luabind::check_object<CLuaAsyncSocketFactory>(L, kSocketFactoryClass);
  const std::string id = luabind::check_string(L, 2);
  PushGetFile(L, id, luabind::check_int<std::uint16_t>(L, 3));
  return 1;
}

int CreateSendFile(lua_State* L) {
  luabind::check_object<CLuaAsyncSocketFactory>(L, kSocketFactoryClass);
  const std::string id = luabind::check_string(L, 2);
  PushSendFile(L, id, luabind::check_int<std::uint16_t>(L, 3));
  return 1;
}

int CreateCopyDir(lua_State* L) {
  luabind::check_object<CLuaAsyncSocketFactory>(L, kSocketFactoryClass);
  PushCopyDir(L, luabind::check_string(L, 2));
  return 1;
}

const QVLRT_METHOD kFactoryMethods[] = {
    {"CreateAsyncSocket", CreateAsyncSocket, 0},
    {"CreateGetFile", CreateGetFile, 0},
    {"CreateSendFile", CreateSendFile, 0},
    {"CreateCopyDir", CreateCopyDir, 0},
    {nullptr, nullptr, 0},
};

void* FactoryInstance(std::uintptr_t) {
  static CLuaAsyncSocketFactory factory;
  return &factory;
}

}  // namespace

int PushAgentValues(lua_State* L, const agent_values& args) {
  for (const auto& a : args) push_value(L, a);
  return static_cast<int>(args.size());
}

CLuaSocketMessageManager::CLuaSocketMessageManager(std::string device_id, port_table ports)
    : socket_message_manager(std::move(device_id), ports) {}

void CLuaSocketMessageManager::Push(lua_State* L, std::string device_id, port_table ports) {
  auto object = std::make_unique<CLuaSocketMessageManager>(std::move(device_id), ports);
  QVLRT_PushQVObject(L, kSocketManagerClass, object.release());  // Lua owns it; __gc frees it
}

void RegisterSocketManagerClass(QVLRT_ENV env) { luabind::RegisterClass(env, kSocketManagerClass, kManagerMethods); }

void RegisterAsyncSocketFactory(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, kSocketFactoryObject, kSocketFactoryClass, kFactoryMethods, FactoryInstance);
}

}  // namespace device
