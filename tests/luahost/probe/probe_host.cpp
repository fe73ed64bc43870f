// The host built for framework tests: the standard start-up plus probe objects that expose the
// binding framework (lazy factories, listener containers, pushed objects with __gc) to Lua, and
// a check that shutdown released the process-wide objects in the reverse order of creation.
#include "hostbase/path_manager.h"
#include "app/startup.h"
#include "luabind/args.h"
#include "luabind/lua_event.h"
#include "luabind/registration.h"

#include "qv/path.h"
#include "qv/text.h"

#include <cstdio>
#include <string>
#include <vector>

#include <lauxlib.h>

namespace {

constexpr const char* kProbeClass = "Probe.Object.Class";
constexpr const char* kItemClass = "Probe.Item.Class";
constexpr const char* kLazyClass = "Probe.Lazy.Class";

int g_probe_factory_calls = 0;
int g_lazy_factory_calls = 0;
int g_items_made = 0;
int g_items_freed = 0;

struct probe {
  luabind::CLuaEventContainer listeners;
};

struct item {
  int value;
};

int attach(lua_State* L) {
  probe* p = luabind::check_object<probe>(L, kProbeClass);
  return p ? luabind::AttachLuaListener(L, 2, p->listeners) : 0;
}

int detach(lua_State* L) {
  probe* p = luabind::check_object<probe>(L, kProbeClass);
  return p ? luabind::DetachLuaListener(L, 2, p->listeners) : 0;
}

// Fires the listeners with the number and a table {value = number}.
int fire(lua_State* L) {
  probe* p = luabind::check_object<probe>(L, kProbeClass);
  if (!p) return 0;
  const lua_Integer n = luaL_optinteger(L, 2, 0);
  luabind::FireLuaEvent(p->listeners, [n](lua_State* LL) {
    lua_pushinteger(LL, n);
    lua_createtable(LL, 0, 0);
    lua_pushstring(LL, "value");
    lua_pushinteger(LL, n);
    lua_settable(LL, -3);
    return 2;
  });
  return 0;
}

int count(lua_State* L) {
  probe* p = luabind::check_object<probe>(L, kProbeClass);
  if (!p) return 0;
  lua_pushinteger(L, static_cast<lua_Integer>(p->listeners.Count()));
  return 1;
}

int make_item(lua_State* L) {
  probe* p = luabind::check_object<probe>(L, kProbeClass);
  if (!p) return 0;
  QVLRT_PushQVObject(L, kItemClass, new item{static_cast<int>(luaL_optinteger(L, 2, 0))});
  ++g_items_made;
  return 1;
}

// factory calls of "Probe.Object", of "Probe.Lazy", items made, items freed
int stats(lua_State* L) {
  if (!luabind::check_object<probe>(L, kProbeClass)) return 0;
  lua_pushinteger(L, g_probe_factory_calls);
  lua_pushinteger(L, g_lazy_factory_calls);
  lua_pushinteger(L, g_items_made);
  lua_pushinteger(L, g_items_freed);
  return 4;
}

int item_value(lua_State* L) {
  item* it = luabind::check_object<item>(L, kItemClass);
  if (!it) return 0;
  lua_pushinteger(L, it->value);
  return 1;
}

int item_gc(lua_State* L) {
  auto** block = static_cast<item**>(luaL_checkudata(L, 1, kItemClass));
  if (block && *block) {
    delete *block;
    *block = nullptr;
    ++g_items_freed;
  }
  return 0;
}

int lazy_ping(lua_State* L) {
  if (!luabind::check_object<int>(L, kLazyClass)) return 0;
  lua_pushstring(L, "pong");
  return 1;
}

const QVLRT_METHOD kProbeMethods[] = {
    {"AttachEvent", attach, 0}, {"DetachEvent", detach, 0}, {"Fire", fire, 0},
    {"Count", count, 0},        {"MakeItem", make_item, 0}, {"Stats", stats, 0},
    {nullptr, nullptr, 0}};
const QVLRT_METHOD kItemMethods[] = {
    {"Value", item_value, 0}, {"__gc", item_gc, 0}, {nullptr, nullptr, 0}};
const QVLRT_METHOD kLazyMethods[] = {{"Ping", lazy_ping, 0}, {nullptr, nullptr, 0}};

void* probe_factory(std::uintptr_t) {
  ++g_probe_factory_calls;
  static probe p;
  return &p;
}

void* lazy_factory(std::uintptr_t) {
  ++g_lazy_factory_calls;
  static int lazy;
  return &lazy;
}

void register_probes(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, "Probe.Object", kProbeClass, kProbeMethods, probe_factory);
  luabind::RegisterGlobal(env, "Probe.Lazy", kLazyClass, kLazyMethods, lazy_factory);
  luabind::RegisterClass(env, kItemClass, kItemMethods);
}

// Appends a line to the package's result file, when the package wrote one.
void report(const std::string& line) {
  std::wstring dir = hostbase::GetModuleDir();
  std::string path = qv::path::to_native(qv::text::wide_to_utf8(dir + L"xar\\hosttest.result"));
  std::FILE* probe_file = std::fopen(path.c_str(), "r");
  if (!probe_file) return;
  std::fclose(probe_file);
  if (std::FILE* f = std::fopen(path.c_str(), "a")) {
    std::fputs((line + "\n").c_str(), f);
    std::fclose(f);
  }
}

}  // namespace

int main() {
  std::vector<std::string> steps;
  app::HostHooks hooks;
  hooks.extra_registration = register_probes;
  hooks.trace = [&steps](const std::string& s) { steps.push_back(s); };
  app::HostMain(hooks);

  // Every object created at start-up must be released, in the reverse order.
  std::vector<std::string> created, released;
  for (const auto& s : steps) {
    if (s.rfind("create ", 0) == 0) created.push_back(s.substr(7));
    if (s.rfind("release ", 0) == 0) released.push_back(s.substr(8));
  }
  std::vector<std::string> expected(created.rbegin(), created.rend());
  std::string order;
  for (const auto& s : released) order += " " + s;
  if (created.empty() || released != expected)
    report("FAIL shutdown released:" + order);
  else
    report("shutdown released:" + order);
  return 0;
}
