#include "android/lua_driver_manager.h"

#include "android/driver_manager.h"
#include "luabind/args.h"
#include "luabind/lua_event.h"
#include "luabind/registration.h"
#include "qv/singleton_ex.h"

#include <lauxlib.h>

#include <map>
#include <memory>
#include <vector>

namespace tiv::android {
namespace {

constexpr const char* kObjectName = "Driver.Manager";
constexpr const char* kClassName = "Driver.Manager.Class";

// The Lua face of the process's CDriverManager, which start-up creates.
class CLuaDriverManager : public DriverInstallCallback {
 public:
  static CLuaDriverManager& Instance() {
    static CLuaDriverManager instance;
    return instance;
  }

  static CDriverManager* manager() {
    return qv::design_pattern::singleton_ex<CDriverManager>::instance();
  }

  std::int32_t Add(const std::wstring& tag, const std::wstring& package,
                   const std::wstring& target, std::int32_t type,
                   const std::vector<std::wstring>& args, lua_State* L, int listener_index) {
    CDriverManager* m = manager();
    if (!m) return 0;
    Pending p;
    p.tag = tag;
    p.listener = std::make_unique<luabind::CLuaEvent>();
    // Anything but a function: the request still runs and its result is dropped.
    if (!p.listener->Hold(L, listener_index)) p.listener.reset();
    const std::int32_t id = m->AddTask(this, package, target, type, args);
    pending_[id] = std::move(p);
    return id;
  }

  void Cancel(std::int32_t id) {
    auto it = pending_.find(id);
    if (it == pending_.end()) return;
    if (CDriverManager* m = manager()) m->CancelTask(id);
    pending_.erase(it);
  }

  void CancelAll() {
    if (CDriverManager* m = manager()) {
      for (const auto& p : pending_) m->CancelTask(p.first);
    }
    pending_.clear();
  }

  void OnDriverResult(std::int32_t id, std::int32_t exit_code) override {
    auto it = pending_.find(id);
    if (it == pending_.end()) return;
    Pending p = std::move(it->second);
    pending_.erase(it);
    if (!p.listener) return;
    p.listener->Fire([&](lua_State* L) {
      lua_pushinteger(L, id);
      luabind::push_wstring(L, p.tag);
      lua_pushinteger(L, exit_code);
      return 3;
    });
  }

 private:
  struct Pending {
    std::wstring tag;
    std::unique_ptr<luabind::CLuaEvent> listener;
  };
  std::map<std::int32_t, Pending> pending_;
};

CLuaDriverManager& self_of(lua_State* L) {
  return *luabind::check_object<CLuaDriverManager>(L, kClassName);
}

int Init(lua_State* L) {
  self_of(L);
  CDriverManager* m = CLuaDriverManager::manager();
  lua_pushboolean(L, m && m->Init() == 1);
  return 1;
}

int UnInit(lua_State* L) {
  self_of(L);
  if (CDriverManager* m = CLuaDriverManager::manager()) m->UnInit();
  return 0;
}

int AddInstallDriver(lua_State* L) {
  CLuaDriverManager& self = self_of(L);
  const std::wstring tag = luabind::opt_wstring(L, 2);
  const std::wstring package = luabind::check_wstring(L, 3);
  const std::wstring target = luabind::check_wstring(L, 4);
  const auto type = luabind::check_int<std::int32_t>(L, 5);
  std::vector<std::wstring> args;
  if (lua_type(L, 6) == LUA_TTABLE) {
    const int n = static_cast<int>(lua_objlen(L, 6));
    for (int i = 1; i <= n; ++i) {
      lua_rawgeti(L, 6, i);
      args.push_back(luabind::opt_wstring(L, -1));
      lua_pop(L, 1);
    }
  }
  lua_pushinteger(L, self.Add(tag, package, target, type, args, L, 7));
  return 1;
}

int CancleTask(lua_State* L) {
  CLuaDriverManager& self = self_of(L);
  self.Cancel(luabind::check_int<std::int32_t>(L, 2));
  return 0;
}

int CancleAllTask(lua_State* L) {
  self_of(L).CancelAll();
  return 0;
}

int GetDriverURL(lua_State* L) {
  self_of(L);
  CDriverManager* m = CLuaDriverManager::manager();
  const DriverUrl url = DriverUrlFor(m ? m->platform() : 0);
  luabind::push_wstring(L, url.package);
  luabind::push_wstring(L, url.target);
  lua_pushinteger(L, url.install_type);
  return 3;
}

const QVLRT_METHOD kMethods[] = {
    {"Init", Init, 0},
    {"UnInit", UnInit, 0},
    {"AddInstallDriver", AddInstallDriver, 0},
    {"CancleTask", CancleTask, 0},
    {"CancleAllTask", CancleAllTask, 0},
    {"GetDriverURL", GetDriverURL, 0},
    {nullptr, nullptr, 0},
};

void* factory(std::uintptr_t) { return &CLuaDriverManager::Instance(); }

}  // namespace

void RegisterDriverManager(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, kObjectName, kClassName, kMethods, factory);
}

}  // namespace tiv::android
