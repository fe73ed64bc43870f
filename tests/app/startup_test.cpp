// Engine start-up in its fixed order, seen through a recording engine; and the start-up scripts
// on the real engine.
#include <gtest/gtest.h>

#include "temp_dir.h"

#include "app/startup.h"

#include "qv/text.h"

#include <lauxlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> g_calls;
QVLRT_ENV g_env = nullptr;
QVLRT_CHUNK const kChunk = reinterpret_cast<QVLRT_CHUNK>(0x1234);

app::EngineCalls recording_engine() {
  app::EngineCalls e{};
  e.prepare_graphic_param = [](QV_GRAPHIC_PARAM* p) {
    p->flags = 77;  // start-up must overwrite it with 0
    g_calls.push_back("prepare graphic");
    return 0;
  };
  e.init_graphic_lib = [](QV_GRAPHIC_PARAM* p) {
    g_calls.push_back("init graphic " + std::to_string(p->flags));
    return 0;
  };
  e.set_freetype_enabled = [](int v) {
    g_calls.push_back("freetype " + std::to_string(v));
    return 0;
  };
  e.init_loader = [](int v) {
    g_calls.push_back("loader " + std::to_string(v));
    return 0;
  };
  e.prepare_graphic_plus_param = [](QVGP_GRAPHICPLUS_PARAM*) {
    g_calls.push_back("prepare plus");
    return 0;
  };
  e.init_graphic_plus = [](QVGP_GRAPHICPLUS_PARAM*) {
    g_calls.push_back("init plus");
    return 0;
  };
  e.get_env = [](int) {
    g_calls.push_back("env");
    return g_env;
  };
  e.get_runtime = [](QVLRT_ENV env, int) {
    g_calls.push_back(env ? "runtime" : "runtime of null");
    return env;
  };
  e.get_lua_state = [](QVLRT_RUNTIME) -> lua_State* { return nullptr; };
  // Only the third script gives a chunk.
  e.create_chunk_from_module = [](QVLRT_RUNTIME, const char* name, const char* path,
                                  const char* entry, QVLRT_CHUNK* out) {
    std::string p = path;
    g_calls.push_back(std::string("chunk ") + name + " " + entry + " " +
                      p.substr(p.find("luacode") - 1));
    *out = std::string(name) == "MenuHelper" ? kChunk : nullptr;
    return *out ? 0 : 1;
  };
  e.prepare_chunk = [](QVLRT_RUNTIME, QVLRT_CHUNK c) {
    g_calls.push_back(c == kChunk ? "prepare chunk" : "prepare other");
    return 0;
  };
  e.release_chunk = [](QVLRT_CHUNK c) { g_calls.push_back(c == kChunk ? "release chunk" : "?"); };
  e.lua_call = [](lua_State*, int nargs, int nresults, const char* ctx) {
    std::string c = ctx;
    g_calls.push_back("call " + std::to_string(nargs) + " " + std::to_string(nresults) + " " +
                      c.substr(c.find("luacode") - 1));
    return 0;
  };
  e.add_xar_search_path = [](const char* dir) {
    std::string d = dir;
    g_calls.push_back(std::string("search path ") + (d.empty() ? "" : d.substr(d.size() - 1)));
    return 0;
  };
  e.load_xar = [](const char* name) {
    g_calls.push_back(std::string("load ") + name);
    return 0;
  };
  return e;
}

bool win32_shell_registered() {
  lua_State* L = QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0));
  luaL_getmetatable(L, "Win32Shell.Class");
  bool known = !lua_isnil(L, -1);
  lua_pop(L, 1);
  return known;
}

}  // namespace

TEST(InitEngine, CallsTheEngineInOrderAndRegistersOnlyWithAnEnvironment) {
  g_calls.clear();
  g_env = nullptr;
  app::InitEngine(recording_engine());
  const std::vector<std::string> expected = {
      "prepare graphic", "init graphic 0", "freetype 1", "loader 0", "prepare plus", "init plus",
      "env", "runtime of null",
      "chunk LuaHostWndHelp RegisterObject \\luacode\\HostWndHelper.lua",
      "chunk KeyHelper RegisterObject \\luacode\\KeyHelper.lua",
      "chunk MenuHelper RegisterObject \\luacode\\MenuHelper.lua",
      "prepare chunk", "call 0 0 \\luacode\\MenuHelper.lua", "release chunk",
      "chunk CreateFileAssociation RegisterObject \\luacode\\CreateFileAssociation.lua",
      "chunk GlobalMacro RegisterObject \\luacode\\GlobalMacro.lua",
      "search path \\", "load XAR"};
  EXPECT_EQ(g_calls, expected);
  EXPECT_FALSE(win32_shell_registered()) << "nothing is registered without an environment";

  g_calls.clear();
  g_env = QVLRT_GetEnv(0);
  app::InitEngine(recording_engine());
  EXPECT_TRUE(win32_shell_registered());
  EXPECT_EQ(g_calls.size(), expected.size());
  g_env = nullptr;
}

// The 31 registrations of the host, in their documented order. Entry 4 names one object twice
// and registers its class under the second name as well. Registrations after these (objects added
// later) are allowed; a dropped, added or moved one among them is not.
TEST(InitEngine, RegistersTheLuaClassesAndObjectsInTheirOrder) {
  const std::vector<std::string> documented = {
      "global qv.filesystem.dir_utility qv.filesystem.dir_utility.class",
      "global qv.filesystem.disk_utility qv.filesystem.disk_utility.class",
      "global qv.filesystem.file_utility qv.filesystem.file_utility.class",
      "global qv.filesystem.path_utility qv.filesystem.path_utility.class",
      "global qv.pathsystem.path_utility qv.filesystem.path_utility.class",
      "class qv.pathsystem.path_utility.class",
      "class qv.win32.net.asyn_http",
      "global qv.win32.net.asyn_http.factory qv.win32.net.asyn_http.factory.class",
      "class qv.win32.net.asyn_http_file",
      "global qv.win32.net.asyn_http_file.factory qv.win32.net.asyn_http_file.factory.class",
      "global AppHelp.Object AppHelp.Class",
      "global Device.Manager Device.Manager.Class",
      "global AndroidCon.Manager AndroidCon.Manager.Class",
      "global Driver.Manager Driver.Manager.Class",
      "class Socket.Manager.Class",
      "class GetFile.Manager.Class",
      "global ClipBoardData.Manager ClipBoardData.Manager.Class",
      "global DataReport.Manager DataReport.Class",
      "global DownloadManger.Manager DownloadManger.Manager.Class",
      "global IconManager.Manager IconManager.Manager.Class",
      "global Win32Shell.Object Win32Shell.Class",
      "global Tray.Manager Tray.Manager.Class",
      "global HttpRequest.Manager HttpRequest.Manager.Class",
      "class SendFile.Manager.Class",
      "class DeviceInfo.Class",
      "global LuaDispatchFactory LuaDispatchFactory.Class",
      "class LuaDispatch.Class",
      "global LuaAsyncSocketFactory LuaAsyncSocketFactory.Class",
      "global AppTaocanManager.Manager AppTaocanManager.Class",
      "global AsyncProcess.Manager AsyncProcess.Manager.Class",
      "class DirCopy.Manager.Class",
      "global Qorvan.UIEngine.DragDropShell Qorvan.UIEngine.DragDropShell.Class",
      "global AsyncGetURLLocate.Manager AsyncGetURLLocate.Manager.Class",
  };
  QVLRT_ENV env = QVLRT_GetEnv(0);
  ASSERT_NE(nullptr, env);
  int first = 0;  // what other tests of this process registered before stays out of it
  while (QVLRT_GetRegistration(env, first)) ++first;
  app::InitEngine();
  std::vector<std::string> made;
  for (int i = first; const char* r = QVLRT_GetRegistration(env, i); ++i) made.emplace_back(r);
  ASSERT_GE(made.size(), documented.size());
  made.resize(documented.size());
  EXPECT_EQ(documented, made);
}

TEST(RunStartupScripts, RunsTheFiveInOrderSkippingMissingAndFailingOnes) {
  const tiv_test::TempDir tmp;
  const fs::path dir = tmp.path();
  fs::create_directories(dir / "luacode");
  auto write = [&](const char* file, const char* text) {
    std::ofstream(dir / "luacode" / file) << text;
  };
  const char* record = "function RegisterObject() ScriptOrder = (ScriptOrder or '') .. '%s,' end";
  char buf[200];
  std::snprintf(buf, sizeof buf, record, "host");
  write("HostWndHelper.lua", buf);
  // KeyHelper.lua is missing
  write("MenuHelper.lua", "function RegisterObject() ScriptOrder = 'broken' end error('load fails')");
  write("CreateFileAssociation.lua",
        "function RegisterObject() ScriptOrder = ScriptOrder .. 'assoc,' error('entry fails') end");
  std::snprintf(buf, sizeof buf, record, "macro");
  write("GlobalMacro.lua", buf);

  QVLRT_RUNTIME rt = QVLRT_GetRuntime(QVLRT_GetEnv(0), 0);
  lua_State* L = QVLRT_GetLuaState(rt);
  const int top = lua_gettop(L);
  // The program passes Windows path text; the engine accepts it on every system.
  std::wstring xar = qv::text::utf8_to_wide(dir.string());
  app::RunStartupScripts(app::EngineCalls::Real(), rt, xar);
  EXPECT_EQ(lua_gettop(L), top);
  lua_getglobal(L, "ScriptOrder");
  EXPECT_STREQ(lua_tostring(L, -1), "host,assoc,macro,");
  lua_pop(L, 1);
}
