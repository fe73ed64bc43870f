// The host for the device channel's Lua host tests: the standard start-up, the socket manager and
// its factory, and "AgentSim.Object", through which the test package drives the agent simulator
// that this host starts on the agent's ports (12156 and 12157).
//
//   AgentSim.Object:Control(json) -> the simulator's answer line
//   AgentSim.Object:Later(ms, fn)  -> calls fn once after ms milliseconds (on the loop)
#include "app/startup.h"
#include "device/lua_socket_manager.h"
#include "luabind/lua_event.h"
#include "luabind/registration.h"

#include "agentsim_harness_posix.h"

#include <cstdlib>
#include <map>
#include <memory>

#include <lauxlib.h>

namespace {

std::unique_ptr<device_test::agent_simulator> g_sim;

struct later_entry {
  std::unique_ptr<luabind::CLuaEvent> fn;
};
std::map<std::uintptr_t, later_entry> g_later;
std::uintptr_t g_next_later = 1;
qv::loop::window_handle g_later_window = nullptr;

qv::loop::lresult_t later_proc(void*, qv::loop::window_handle w, unsigned msg, qv::loop::wparam_t wp,
                               qv::loop::lparam_t lp) {
  if (msg != qv::loop::kWmTimer) return qv::loop::default_window_proc(w, msg, wp, lp);
  qv::loop::kill_timer(w, wp);
  auto it = g_later.find(wp);
  if (it == g_later.end()) return 0;
  std::unique_ptr<luabind::CLuaEvent> fn = std::move(it->second.fn);
  g_later.erase(it);
  lua_State* L = fn->state();
  const int top = lua_gettop(L);
  lua_rawgeti(L, LUA_REGISTRYINDEX, fn->ref());
  QVLRT_LuaCall(L, 0, 0, "CLuaEvent::Call");
  lua_settop(L, top);
  return 0;
}

int control(lua_State* L) {
  const char* json = luaL_checkstring(L, 2);
  const std::string answer = g_sim ? g_sim->control(json) : std::string();
  lua_pushlstring(L, answer.data(), answer.size());
  return 1;
}

int later(lua_State* L) {
  const auto ms = static_cast<unsigned>(luaL_checknumber(L, 2));
  auto fn = std::make_unique<luabind::CLuaEvent>();
  if (!fn->Hold(L, 3)) return 0;
  if (!g_later_window) {
    qv::loop::window_spec spec;
    spec.class_name = L"TivorelDeviceHostLater";
    g_later_window = qv::loop::create_window(spec, later_proc, nullptr);
  }
  const std::uintptr_t id = g_next_later++;
  g_later[id].fn = std::move(fn);
  qv::loop::set_timer(g_later_window, id, ms);
  return 0;
}

const QVLRT_METHOD kSimMethods[] = {{"Control", control, 0}, {"Later", later, 0}, {nullptr, nullptr, 0}};

void* sim_factory(std::uintptr_t) {
  static int object;
  return &object;
}

void register_device(QVLRT_ENV env) {
  device::RegisterSocketManagerClass(env);
  device::RegisterAsyncSocketFactory(env);
  luabind::RegisterGlobal(env, "AgentSim.Object", "AgentSim.Class", kSimMethods, sim_factory);
}

}  // namespace

int main() {
  setenv("TIVOREL_SOURCE_DIR", TIVOREL_AGENTSIM_SOURCE_DIR, 0);
  g_sim = std::make_unique<device_test::agent_simulator>(
      std::vector<std::string>{"--event-port", "12156", "--command-port", "12157"});
  app::HostHooks hooks;
  hooks.extra_registration = register_device;
  const int rc = g_sim->running() ? app::HostMain(hooks) : 1;
  g_later.clear();
  if (g_later_window) qv::loop::destroy_window(g_later_window);
  g_sim.reset();
  return rc;
}
