// "AndroidCon.Manager" driven from Lua in the engine, over a runner whose client front runs the
// fake stock client with canned replies.
#include "android/lua_android_connect_manager.h"
#include "runner_fixture.h"

using namespace tiv::android;
using namespace tiv::android::test;

namespace {

int test_done(lua_State*) {
  qv::loop::post_quit(0);
  return 0;
}

class LuaAdb : public RunnerTest {
 protected:
  static void SetUpTestSuite() {
    prepend_path(stage_dir());
    set_env("TIVOREL_ADB", qv::text::wide_to_utf8(fake_adb()));
    // Every command goes to the stand-in, even where an ADB server answers on this machine.
    set_env("TIVOREL_ADB_PROTOCOL", "0");
    set_env("FAKE_ADB_REPLY_devices",
            "List of devices attached\nR58M1\tunauthorized\nemulator-5554\tdevice\n"
            "192.168.1.20:5555\toffline\nHT4A1\tdevice\n\n");
    set_env("FAKE_ADB_REPLY_install", "Performing Streamed Install\nSuccess\n");
    set_env("FAKE_ADB_REPLY_uninstall", "Failure [DELETE_FAILED_INTERNAL_ERROR]\n");
    set_env("FAKE_ADB_REPLY_shell", "Broadcast completed: result=0 %ARGS%");
    set_env("FAKE_ADB_REPLY_forward", "adb: error: device 'X' not found %ARGS%");
    set_env("FAKE_ADB_REPLY_echo", "%ARGS%");
    QVLRT_ENV env = QVLRT_GetEnv(0);
    RegisterAndroidConnectManager(env);
    lua_register(state(), "test_done", test_done);
  }

  void SetUp() override {
    RunnerTest::SetUp();
    CLuaAndroidConnectManager::Instance().SetRunner(runner.get());
  }

  void TearDown() override {
    CLuaAndroidConnectManager::Instance().CancelAllTasks();
    CLuaAndroidConnectManager::Instance().SetRunner(nullptr);
    RunnerTest::TearDown();
  }

  static lua_State* state() { return QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0)); }

  // Runs Lua code; returns the global "result" as a string ("<error>" when the code raised).
  std::string lua(const std::string& code) {
    lua_State* L = state();
    const int top = lua_gettop(L);
    EXPECT_EQ(0, luaL_loadstring(L, code.c_str())) << code;
    if (QVLRT_LuaCall(L, 0, 0, "test") != 0) {
      lua_settop(L, top);
      return "<error>";
    }
    lua_getglobal(L, "result");
    std::string r = lua_isstring(L, -1) ? lua_tostring(L, -1) : "<not a string>";
    lua_settop(L, top);
    return r;
  }

  // A listener factory: each call records its arguments under a name and ends the loop when
  // the expected number of calls has arrived.
  static constexpr const char* kPrelude = R"(
    M = _G['AndroidCon.Manager']
    calls, expected = {}, 0
    function describe(v)
      if type(v) ~= 'table' then return tostring(v) end
      local parts = {}
      for i, d in ipairs(v) do
        parts[i] = d.DriverId .. '/' .. d.USBIdentify .. '/' .. d.State
      end
      return '{' .. table.concat(parts, ';') .. '}'
    end
    function rec(name)
      return function(...)
        local n, args = select('#', ...), {...}
        local parts = {}
        for i = 1, n do parts[i] = describe(args[i]) end
        calls[#calls + 1] = name .. '(' .. n .. '):' .. table.concat(parts, '|')
        if #calls == expected then test_done() end
      end
    end
  )";
};

}  // namespace

TEST_F(LuaAdb, EveryMethodReportsItsKindOfResult) {
  lua(std::string(kPrelude) + R"(
    M:Init()
    expected = 10
    ids = {
      M:GetDevices('d1', rec('devices')),
      M:GetDevices('d2', rec('devices')),
      M:StartServices('s', rec('start')),
      M:KillServices('k', rec('kill')),
      M:InstallAPK('SER', 'i', 'C:\\a b\\x.apk', rec('install')),
      M:UnInstallAPK('SER', 'u', 'com.x', rec('uninstall')),
      M:StartAPK('SER', 'a', 'com.x/.Main', rec('activity')),
      M:ForwardTcpPort('SER', 'f', 12156, 12157, rec('forward')),
      M:StartBroadCast('SER', 'b', rec('broadcast')),
      M:AddAndroidCmd('tivorel_help.exe  echo "a b" c', 'free', 0, -1, 1, rec('free')),
    }
    result = table.concat(ids, ',')
  )");
  ASSERT_TRUE(run_loop(60000));
  std::string ids = lua("result = table.concat(ids, ',')");
  std::vector<std::string> id;
  for (std::size_t start = 0; start <= ids.size();) {
    std::size_t end = ids.find(',', start);
    if (end == std::string::npos) end = ids.size();
    id.push_back(ids.substr(start, end - start));
    start = end + 1;
  }
  ASSERT_EQ(10u, id.size());
  for (std::size_t i = 1; i < id.size(); ++i) EXPECT_LT(std::stoi(id[i - 1]), std::stoi(id[i]));

  const std::string devices = "{192.168.1.20:5555/192.168.1.20:5555/offline;HT4A1/HT4A1/device}";
  const std::string expected[] = {
      "devices(3):d1|" + id[0] + "|" + devices,
      "devices(3):d2|" + id[1] + "|" + devices,
      "start(2):s|" + id[2],
      "kill(2):k|" + id[3],
      "install(3):i|" + id[4] + "|5",
      "uninstall(3):u|" + id[5] + "|4",
      "activity(3):a|" + id[6] + "|5",
      "forward(3):f|" + id[7] + "|4",
      "broadcast(3):b|" + id[8] + "|5",
      "free(3):free|" + id[9] + "|[echo][a b][c]",
  };
  // Delivery order differs between the workers: compare as sets.
  std::vector<std::string> got;
  for (int i = 1; i <= 10; ++i) got.push_back(lua("result = calls[" + std::to_string(i) + "]"));
  std::sort(got.begin(), got.end());
  std::vector<std::string> want(std::begin(expected), std::end(expected));
  std::sort(want.begin(), want.end());
  EXPECT_EQ(want, got);
  EXPECT_EQ(0u, CLuaAndroidConnectManager::Instance().PendingCount());
}

TEST_F(LuaAdb, FreeFormCommandsHandBackTheWholeOutput) {
  lua(std::string(kPrelude) + R"(
    M:Init()
    expected = 1
    id = M:AddAndroidCmd('tivorel_help.exe  -s "S 1" forward tcp:1 tcp:2', 't', 0, -1, 0, rec('free'))
  )");
  ASSERT_TRUE(run_loop(60000));
  const std::string id = lua("result = tostring(id)");
  EXPECT_EQ("free(3):t|" + id + "|adb: error: device 'X' not found [-s][S 1][forward][tcp:1][tcp:2]",
            lua("result = calls[1]"));
}

TEST_F(LuaAdb, CancelledAndUnheardCommandsCallNothing) {
  lua(std::string(kPrelude) + R"(
    M:Init()
    expected = 2
    local slow = M:AddAndroidCmd('tivorel_help.exe  sleep 3000 out x', 'slow', 0, -1, 0, rec('slow'))
    local waiting = M:GetDevices('waiting', rec('waiting'))
    M:CancleTask(slow)
    M:CancleTask(waiting)
    M:CancleTask(4242)                         -- not pending: nothing happens
    M:GetDevices('no listener', 'not a function')
    M:GetDevices('raises', function() error('listener fails') end)
    M:StartServices('after', rec('after'))
    M:AddAndroidCmd('tivorel_help.exe  out q', 'quick', 0, -1, 1, rec('quick'))
  )");
  ASSERT_TRUE(run_loop(60000));
  run_loop(500);  // nothing else arrives
  std::vector<std::string> got{lua("result = calls[1]"), lua("result = calls[2]")};
  std::sort(got.begin(), got.end());
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ(0u, got[0].rfind("after(2):after|", 0)) << got[0];
  EXPECT_EQ(0u, got[1].rfind("quick(3):quick|", 0)) << got[1];
  EXPECT_EQ("2", lua("result = tostring(#calls)"));
  EXPECT_EQ(0u, CLuaAndroidConnectManager::Instance().PendingCount());
}

TEST_F(LuaAdb, MethodsNeedTheirObject) {
  EXPECT_EQ("<error>", lua(std::string(kPrelude) + "M.GetDevices({}, 't', rec('x'))"));
  EXPECT_EQ("<error>", lua("M.Init(nil)"));
  EXPECT_EQ(0u, CLuaAndroidConnectManager::Instance().PendingCount());
}

TEST_F(LuaAdb, CancelAllAndUnInitForgetEverything) {
  lua(std::string(kPrelude) + R"(
    M:Init()
    M:GetDevices('a', rec('a'))
    M:AddAndroidCmd('tivorel_help.exe  forever', 'b', 0, -1, 1, rec('b'))
    M:CancleAllTask()
    M:GetDevices('c', rec('c'))
    M:UnInit()
    M:GetDevices('d', rec('d'))
  )");
  // UnInit stopped the runner: what was queued before is dropped, what comes after never runs.
  run_loop(1000);
  EXPECT_EQ("0", lua("result = tostring(#calls)"));
  EXPECT_EQ(1u, CLuaAndroidConnectManager::Instance().PendingCount());  // 'd' waits forever
}
