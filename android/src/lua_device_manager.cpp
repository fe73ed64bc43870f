#include "android/lua_device_manager.h"

#include "luabind/args.h"
#include "luabind/lua_object.h"
#include "luabind/registration.h"
#include "qv/singleton_ex.h"
#include "usb_os.h"

#include <clocale>
#include <ctime>
#include <memory>

using namespace tiv::android;

CLuaDeviceManager::CLuaDeviceManager() {
  // The character-type locale of the Chinese system the UI was written for; where no such
  // locale exists the call changes nothing.
  std::setlocale(LC_CTYPE, "chs");
}

CLuaDeviceManager& CLuaDeviceManager::Instance() {
  static CLuaDeviceManager instance;
  return instance;
}

CDeviceManager* CLuaDeviceManager::manager() const {
  return manager_ ? manager_ : qv::design_pattern::singleton_ex<CDeviceManager>::instance();
}

bool CLuaDeviceManager::Init(lua_State* L, int listener_index) {
  if (!listener_.Hold(L, listener_index)) listener_.Release();
  CDeviceManager* m = manager();
  return m && m->Init(this) == 0;
}

void CLuaDeviceManager::UnInit() {
  if (CDeviceManager* m = manager()) m->UnInit();
}

void CLuaDeviceManager::OnDeviceChange(const DeviceChange& change) {
  listener_.Fire([&change](lua_State* L) {
    PushDeviceInfo(L, change);
    return 1;
  });
}

std::string CLuaDeviceManager::LogLine(const std::string& text) {
  const std::time_t now = std::time(nullptr);
  char stamp[64] = "";
  if (const std::tm* local = std::localtime(&now))
    std::strftime(stamp, sizeof stamp, "%H:%M:%S     ", local);
  return std::string(stamp) + std::to_string(os::TickCount()) + "  " + text + os::LuaLogLineEnd();
}

std::wstring CLuaDeviceManager::LogPath() { return os::LuaLogPath(); }

bool CLuaDeviceManager::WriteLuaLog(const std::string& text) {
  return os::AppendToFile(os::LuaLogPath(), LogLine(text));
}

void PushDeviceInfo(lua_State* L, const DeviceChange& change) {
  auto info = std::make_unique<DeviceInfo>();
  info->change_type = change.change_type;
  info->produce_id = change.serial;
  info->name = change.product_id;
  info->brand = change.brand;
  info->type_text = change.product;
  info->vid = change.vid;
  info->pid = change.pid;
  info->big_png = change.large_icon_path;
  info->usb_identify = change.usb_key;
  info->instance_id_list = change.instance_ids;
  info->drive_list = change.drives;
  QVLRT_PushQVObject(L, CLuaDeviceManager::kInfoClassName, info.release());  // __gc frees it
}

namespace {

using luabind::check_object;

CLuaDeviceManager* self_of(lua_State* L) {
  return check_object<CLuaDeviceManager>(L, CLuaDeviceManager::kClassName);
}

void push_list(lua_State* L, const std::vector<std::wstring>& items) {
  lua_createtable(L, static_cast<int>(items.size()), 0);
  int i = 0;
  for (const std::wstring& s : items) {
    luabind::push_wstring(L, s);
    lua_rawseti(L, -2, ++i);
  }
}

int Init(lua_State* L) {
  CLuaDeviceManager* self = self_of(L);
  if (!self) return 0;
  lua_pushboolean(L, self->Init(L, 2));
  return 1;
}

int UnInit(lua_State* L) {
  if (CLuaDeviceManager* self = self_of(L)) self->UnInit();
  return 0;
}

int WriteLuaLog(lua_State* L) {
  if (!self_of(L)) return 0;
  CLuaDeviceManager::WriteLuaLog(luabind::check_string(L, 2));
  return 0;
}

int IsDebugger(lua_State* L) {
  if (!self_of(L)) return 0;
  lua_pushboolean(L, 1);
  return 1;
}

int CanWriteLog(lua_State* L) {
  if (!self_of(L)) return 0;
  lua_pushboolean(L, 0);
  return 1;
}

int GetDevcieDriverList(lua_State* L) {
  CLuaDeviceManager* self = self_of(L);
  if (!self) return 0;
  std::vector<std::wstring> ids;
  if (lua_istable(L, 3)) {
    const int n = static_cast<int>(lua_objlen(L, 3));
    for (int i = 1; i <= n; ++i) {
      lua_rawgeti(L, 3, i);
      if (luabind::is_string(L, -1)) ids.push_back(luabind::opt_wstring(L, -1));
      lua_pop(L, 1);
    }
  }
  CDeviceManager* m = self->manager();
  push_list(L, m ? m->DrivesOfInstances(ids) : std::vector<std::wstring>());
  return 1;
}

int GetMobileInfoByModal(lua_State* L) {
  CLuaDeviceManager* self = self_of(L);
  if (!self) return 0;
  const std::wstring product = luabind::check_wstring(L, 2);
  CDeviceManager* m = self->manager();
  DeviceEntry entry;
  if (!m || !m->MatchStorageProduct(product, entry)) return 0;
  auto info = std::make_unique<DeviceInfo>();
  info->brand = entry.brand;
  info->type_text = entry.product;
  info->big_png = entry.large_icon_path;
  QVLRT_PushQVObject(L, CLuaDeviceManager::kInfoClassName, info.release());
  return 1;
}

const QVLRT_METHOD kManagerMethods[] = {
    {"Init", Init, 0},
    {"UnInit", UnInit, 0},
    {"WriteLuaLog", WriteLuaLog, 0},
    {"IsDebugger", IsDebugger, 0},
    {"CanWriteLog", CanWriteLog, 0},
    {"GetDevcieDriverList", GetDevcieDriverList, 0},
    {"GetMobileInfoByModal", GetMobileInfoByModal, 0},
    {nullptr, nullptr, 0},
};

void* factory(std::uintptr_t) { return &CLuaDeviceManager::Instance(); }

// ---- DeviceInfo.Class ----------------------------------------------------------------------

DeviceInfo* info_of(lua_State* L) {
  return check_object<DeviceInfo>(L, CLuaDeviceManager::kInfoClassName);
}

template <std::wstring DeviceInfo::*Field>
int get_text(lua_State* L) {
  DeviceInfo* info = info_of(L);
  if (!info) return 0;
  luabind::push_wstring(L, info->*Field);
  return 1;
}

template <std::vector<std::wstring> DeviceInfo::*Field>
int get_list(lua_State* L) {
  DeviceInfo* info = info_of(L);
  if (!info) return 0;
  push_list(L, info->*Field);
  return 1;
}

int GetChangeType(lua_State* L) {
  DeviceInfo* info = info_of(L);
  if (!info) return 0;
  lua_pushinteger(L, info->change_type);
  return 1;
}

int InfoGc(lua_State* L) {
  return luabind::delete_object<DeviceInfo>(L, CLuaDeviceManager::kInfoClassName);
}

const QVLRT_METHOD kInfoMethods[] = {
    {"GetAlias", get_text<&DeviceInfo::alias>, 0},
    {"GetProduceId", get_text<&DeviceInfo::produce_id>, 0},
    {"GetName", get_text<&DeviceInfo::name>, 0},
    {"GetBrand", get_text<&DeviceInfo::brand>, 0},
    {"GetType", get_text<&DeviceInfo::type_text>, 0},
    {"GetResolution", get_text<&DeviceInfo::resolution>, 0},
    {"GetInstanceIDList", get_list<&DeviceInfo::instance_id_list>, 0},
    {"GetDriverList", get_list<&DeviceInfo::drive_list>, 0},
    {"GetVID", get_text<&DeviceInfo::vid>, 0},
    {"GetPID", get_text<&DeviceInfo::pid>, 0},
    {"GetSmallPng", get_text<&DeviceInfo::small_png>, 0},
    {"GetBigPng", get_text<&DeviceInfo::big_png>, 0},
    {"GetChangeType", GetChangeType, 0},
    {"GetShellSize", get_text<&DeviceInfo::shell_size>, 0},
    {"GetInterShellSize", get_text<&DeviceInfo::inter_shell_size>, 0},
    {"GetShotPos", get_text<&DeviceInfo::shot_pos>, 0},
    {"GetUSBIdentify", get_text<&DeviceInfo::usb_identify>, 0},
    {"__gc", InfoGc, 0},
    {nullptr, nullptr, 0},
};

}  // namespace

void RegisterDeviceManager(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, CLuaDeviceManager::kObjectName, CLuaDeviceManager::kClassName,
                          kManagerMethods, factory);
}

void RegisterDeviceInfoClass(QVLRT_ENV env) {
  luabind::RegisterClass(env, CLuaDeviceManager::kInfoClassName, kInfoMethods);
}
