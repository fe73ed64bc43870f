#include "android/lua_android_connect_manager.h"

#include "android/adb_commands.h"
#include "android/adb_output.h"
#include "luabind/args.h"
#include "luabind/registration.h"
#include "qv/singleton_ex.h"

#include <lauxlib.h>

using namespace tiv::android;

namespace {

using luabind::opt_int;
using luabind::opt_wstring;

void push_device_list(lua_State* L, const std::wstring& output) {
  const auto devices = parse_device_list(output);
  lua_createtable(L, static_cast<int>(devices.size()), 0);
  int i = 0;
  for (const auto& d : devices) {
    lua_createtable(L, 0, 3);
    luabind::set_field(L, "DriverId", d.serial);
    luabind::set_field(L, "USBIdentify", d.serial);
    luabind::set_field(L, "State", d.state);
    lua_rawseti(L, -2, ++i);
  }
}

// Every argument after self is lenient: a missing or wrongly typed one reads as its default.
CLuaAndroidConnectManager* self_of(lua_State* L) {
  return luabind::check_object<CLuaAndroidConnectManager>(L, CLuaAndroidConnectManager::kClassName);
}

int push_id(lua_State* L, int id) {
  lua_pushinteger(L, id);
  return 1;
}

int AddAndroidCmd(lua_State* L) {
  auto* self = self_of(L);
  if (!self) return 0;
  const int quick = opt_int<int>(L, 6, 0);
  return push_id(L, self->Queue(L, kAdbFreeForm, opt_wstring(L, 2), opt_wstring(L, 3),
                                opt_int<int>(L, 4, 0), quick, opt_int<int>(L, 5, -1), 7));
}

int GetDevices(lua_State* L) {
  auto* self = self_of(L);
  if (!self) return 0;
  return push_id(L, self->Queue(L, kAdbDevices, adb_devices_command(), opt_wstring(L, 2), 0, 0,
                                -1, 3));
}

int StartServices(lua_State* L) {
  auto* self = self_of(L);
  if (!self) return 0;
  return push_id(L, self->Queue(L, kAdbStartServer, adb_start_server_command(), opt_wstring(L, 2),
                                0, 0, -1, 3));
}

int KillServices(lua_State* L) {
  auto* self = self_of(L);
  if (!self) return 0;
  return push_id(L, self->Queue(L, kAdbKillServer, adb_kill_server_command(), opt_wstring(L, 2), 0,
                                0, -1, 3));
}

int InstallAPK(lua_State* L) {
  auto* self = self_of(L);
  if (!self) return 0;
  return push_id(L, self->Queue(L, kAdbInstall,
                                adb_install_command(opt_wstring(L, 2), opt_wstring(L, 4)),
                                opt_wstring(L, 3), 2, 0, -1, 5));
}

int UnInstallAPK(lua_State* L) {
  auto* self = self_of(L);
  if (!self) return 0;
  return push_id(L, self->Queue(L, kAdbUninstall,
                                adb_uninstall_command(opt_wstring(L, 2), opt_wstring(L, 4)),
                                opt_wstring(L, 3), 2, 0, -1, 5));
}

int StartAPK(lua_State* L) {
  auto* self = self_of(L);
  if (!self) return 0;
  return push_id(L, self->Queue(L, kAdbStartActivity,
                                adb_start_activity_command(opt_wstring(L, 2), opt_wstring(L, 4)),
                                opt_wstring(L, 3), 2, 0, 10000, 5));
}

int ForwardTcpPort(lua_State* L) {
  auto* self = self_of(L);
  if (!self) return 0;
  return push_id(L, self->Queue(L, kAdbForward,
                                adb_forward_command(opt_wstring(L, 2), opt_int<int>(L, 4, 0),
                                                    opt_int<int>(L, 5, 0)),
                                opt_wstring(L, 3), 0, 0, -1, 6));
}

int StartBroadCast(lua_State* L) {
  auto* self = self_of(L);
  if (!self) return 0;
  return push_id(L, self->Queue(L, kAdbBroadcast, adb_broadcast_command(opt_wstring(L, 2)),
                                opt_wstring(L, 3), 0, 0, 5000, 4));
}

int Init(lua_State* L) {
  if (auto* self = self_of(L)) self->Init();
  return 0;
}

int UnInit(lua_State* L) {
  if (auto* self = self_of(L)) self->UnInit();
  return 0;
}

int CancleTask(lua_State* L) {
  if (auto* self = self_of(L)) self->CancelTask(opt_int<int>(L, 2, 0));
  return 0;
}

int CancleAllTask(lua_State* L) {
  if (auto* self = self_of(L)) self->CancelAllTasks();
  return 0;
}

const QVLRT_METHOD kMethods[] = {
    {"AddAndroidCmd", AddAndroidCmd, 0},
    {"GetDevices", GetDevices, 0},
    {"StartServices", StartServices, 0},
    {"KillServices", KillServices, 0},
    {"InstallAPK", InstallAPK, 0},
    {"UnInstallAPK", UnInstallAPK, 0},
    {"StartAPK", StartAPK, 0},
    {"ForwardTcpPort", ForwardTcpPort, 0},
    {"StartBroadCast", StartBroadCast, 0},
    {"Init", Init, 0},
    {"UnInit", UnInit, 0},
    {"CancleTask", CancleTask, 0},
    {"CancleAllTask", CancleAllTask, 0},
    {nullptr, nullptr, 0},
};

void* factory(std::uintptr_t) { return &CLuaAndroidConnectManager::Instance(); }

}  // namespace

CLuaAndroidConnectManager& CLuaAndroidConnectManager::Instance() {
  static CLuaAndroidConnectManager instance;
  return instance;
}

CAndroidConnectManager* CLuaAndroidConnectManager::runner() const {
  return runner_ ? runner_ : qv::design_pattern::singleton_ex<CAndroidConnectManager>::instance();
}

int CLuaAndroidConnectManager::Queue(lua_State* L, int kind, const std::wstring& command_line,
                                     const std::wstring& tag, int priority_key, int quick,
                                     int timeout_ms, int listener_index) {
  CAndroidConnectManager* r = runner();
  if (!r) return 0;
  PendingAdbCall call;
  call.kind = kind;
  call.quick = kind == kAdbFreeForm ? quick : 0;
  call.tag = tag;
  auto listener = std::make_unique<luabind::CLuaEvent>();
  if (listener->Hold(L, listener_index)) call.listener = std::move(listener);
  const int id = r->AddCommand(this, command_line, priority_key, quick, timeout_ms);
  pending_[id] = std::move(call);
  return id;
}

void CLuaAndroidConnectManager::OnResult(int id, std::wstring& output) {
  auto it = pending_.find(id);
  if (it == pending_.end()) return;
  // Forgotten before the call: the listener may cancel or queue anything meanwhile.
  PendingAdbCall call = std::move(it->second);
  pending_.erase(it);
  if (!call.listener) return;
  call.listener->Fire([&](lua_State* L) {
    luabind::push_wstring(L, call.tag);
    lua_pushinteger(L, id);
    switch (call.kind) {
      case kAdbFreeForm:
        luabind::push_wstring(L, output);
        return 3;
      case kAdbDevices:
        push_device_list(L, output);
        return 3;
      case kAdbStartServer:
      case kAdbKillServer:
        return 2;
      default:
        lua_pushinteger(L, result_code(call.kind, output));
        return 3;
    }
  });
}

void CLuaAndroidConnectManager::Init() {
  if (CAndroidConnectManager* r = runner()) r->Start();
}

void CLuaAndroidConnectManager::UnInit() {
  if (CAndroidConnectManager* r = runner()) r->Stop();
  pending_.clear();
}

void CLuaAndroidConnectManager::CancelTask(int id) {
  auto it = pending_.find(id);
  if (it == pending_.end()) return;
  if (CAndroidConnectManager* r = runner()) r->CancelCommand(id);
  pending_.erase(it);
}

void CLuaAndroidConnectManager::CancelAllTasks() {
  if (CAndroidConnectManager* r = runner()) r->CancelAllCommands();
  pending_.clear();
}

void RegisterAndroidConnectManager(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, CLuaAndroidConnectManager::kObjectName,
                          CLuaAndroidConnectManager::kClassName, kMethods, factory);
}
