// The host for the Lua host tests of the device channel and of file transfer: the standard
// start-up, every device class, and "AgentSim.Object", through which the test package drives the
// agent simulator that this host starts beside it.
//
// By default the simulator serves the agent's own loopback ports (12156 and 12157). With
// TIVOREL_AGENTSIM_FILES=1 it serves the file services on free ports instead, with a storage
// folder of its own inside this run's scratch folder.
//
//   AgentSim.Object:Control(json) -> the simulator's answer line
//   AgentSim.Object:Later(ms, fn)  -> calls fn once after ms milliseconds (on the loop)
//   AgentSim.Object:Folder()       -> a fresh scratch folder of this run (removed at the end)
#include "app/startup.h"
#include "device/lua_file_transfer.h"
#include "device/lua_socket_manager.h"
#include "luabind/lua_event.h"
#include "luabind/registration.h"

#include "agentsim_harness_posix.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include <lauxlib.h>
#include <unistd.h>

namespace {

std::unique_ptr<device_test::agent_simulator> g_sim;
std::string g_scratch;

std::map<std::uintptr_t, std::unique_ptr<luabind::CLuaEvent>> g_later;
std::uintptr_t g_next_later = 1;
qv::loop::window_handle g_later_window = nullptr;

qv::loop::lresult_t later_proc(void*, qv::loop::window_handle w, unsigned msg, qv::loop::wparam_t wp,
                               qv::loop::lparam_t lp) {
  if (msg != qv::loop::kWmTimer) return qv::loop::default_window_proc(w, msg, wp, lp);
  qv::loop::kill_timer(w, wp);
  auto it = g_later.find(wp);
  if (it == g_later.end()) return 0;
  std::unique_ptr<luabind::CLuaEvent> fn = std::move(it->second);
  g_later.erase(it);
  fn->Fire([](lua_State*) { return 0; });
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
    spec.class_name = L"TivorelAgentHostLater";
    g_later_window = qv::loop::create_window(spec, later_proc, nullptr);
  }
  const std::uintptr_t id = g_next_later++;
  g_later[id] = std::move(fn);
  qv::loop::set_timer(g_later_window, id, ms);
  return 0;
}

int folder(lua_State* L) {
  lua_pushlstring(L, g_scratch.data(), g_scratch.size());
  return 1;
}

const QVLRT_METHOD kSimMethods[] = {
    {"Control", control, 0}, {"Later", later, 0}, {"Folder", folder, 0}, {nullptr, nullptr, 0}};

void* sim_factory(std::uintptr_t) {
  static int object;
  return &object;
}

void register_device(QVLRT_ENV env) {
  device::RegisterSocketManagerClass(env);
  device::RegisterGetFileClass(env);
  device::RegisterSendFileClass(env);
  device::RegisterAsyncSocketFactory(env);
  device::RegisterDirCopyClass(env);
  luabind::RegisterGlobal(env, "AgentSim.Object", "AgentSim.Class", kSimMethods, sim_factory);
}

std::vector<std::string> simulator_arguments() {
  const char* files = std::getenv("TIVOREL_AGENTSIM_FILES");
  if (files && std::strcmp(files, "1") == 0)
    return {"--send-port", "0", "--get-port", "0", "--files-dir", g_scratch + "/phone"};
  return {"--event-port", "12156", "--command-port", "12157"};
}

}  // namespace

int main() {
  setenv("TIVOREL_SOURCE_DIR", TIVOREL_AGENTSIM_SOURCE_DIR, 0);
  char pattern[] = "/tmp/tivorel_agenthost_XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  g_scratch = pattern;
  std::filesystem::create_directories(g_scratch + "/phone");
  std::filesystem::create_directories(g_scratch + "/pc");
  g_sim = std::make_unique<device_test::agent_simulator>(simulator_arguments());
  app::HostHooks hooks;
  hooks.extra_registration = register_device;
  const int rc = g_sim->running() ? app::HostMain(hooks) : 1;
  g_later.clear();
  if (g_later_window) qv::loop::destroy_window(g_later_window);
  g_sim.reset();
  std::error_code ec;
  std::filesystem::remove_all(g_scratch, ec);
  return rc;
}
