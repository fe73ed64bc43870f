// "Socket.Manager.Class" and "LuaAsyncSocketFactory" used from Lua the way the user interface
// uses them, inside the engine, against the agent simulator.
#include <gtest/gtest.h>

#include "device/lua_socket_manager.h"

#include "agentsim_harness_posix.h"
#include "loop_helpers.h"

#include <lauxlib.h>

#include <string>

using namespace device;
using device_test::agent_simulator;
using device_test::run_until;
using device_test::settle;

namespace {

socket_message_manager::port_table g_ports{};

// TestSocketManager(device_id): a manager like CreateAsyncSocket's, pointed at the simulator.
int test_socket_manager(lua_State* L) {
  CLuaSocketMessageManager::Push(L, luaL_checkstring(L, 1), g_ports);
  return 1;
}

class LuaSocketManager : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    QVLRT_ENV env = QVLRT_GetEnv(0);
    RegisterSocketManagerClass(env);
    RegisterAsyncSocketFactory(env);
    lua_register(state(), "TestSocketManager", test_socket_manager);
  }

  void SetUp() override {
    ASSERT_TRUE(sim_.running()) << "the agent simulator did not start";
    g_ports = {sim_.command_port(), 12158, 12159, sim_.event_port()};
    previous_sink_ = set_log_sink([this](const std::string& line) { log_.push_back(line); });
  }

  void TearDown() override {
    run("m = nil; done = nil; log = nil; collectgarbage('collect'); collectgarbage('collect')");
    set_log_sink(previous_sink_);
  }

  static lua_State* state() { return QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0)); }

  // Runs a chunk; false when it raised.
  bool run(const std::string& code) {
    lua_State* L = state();
    const int top = lua_gettop(L);
    EXPECT_EQ(0, luaL_loadstring(L, code.c_str())) << code;
    const bool ok = QVLRT_LuaCall(L, 0, 0, "test") == 0;
    lua_settop(L, top);
    return ok;
  }

  std::string global_string(const char* name) {
    lua_State* L = state();
    lua_getglobal(L, name);
    std::string s = lua_isstring(L, -1) ? lua_tostring(L, -1) : "";
    lua_pop(L, 1);
    return s;
  }

  bool global_true(const char* name) {
    lua_State* L = state();
    lua_getglobal(L, name);
    const bool b = lua_toboolean(L, -1) != 0;
    lua_pop(L, 1);
    return b;
  }

  // Pumps the loop until the Lua global `done` is true.
  bool wait_done() { return run_until([this] { return global_true("done"); }); }

  // The native object behind the global `m`.
  CLuaSocketMessageManager* manager() {
    lua_State* L = state();
    lua_getglobal(L, "m");
    auto** block = static_cast<CLuaSocketMessageManager**>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    return block ? *block : nullptr;
  }

  agent_simulator sim_;
  std::vector<std::string> log_;
  log_sink previous_sink_;

  // Lua helpers: log(...) appends its arguments, joined by spaces, as one entry.
  static constexpr const char* kPrelude =
      "log = {} "
      "local function flat(v) "
      "  if type(v) ~= 'table' then return tostring(v) end "
      "  return '#' .. #v "
      "end "
      "function note(...) local t = {} "
      "  for i = 1, select('#', ...) do t[#t + 1] = flat((select(i, ...))) end "
      "  log[#log + 1] = table.concat(t, ' ') end ";
};

}  // namespace

TEST_F(LuaSocketManager, FactoryMakesManagersWithTheForwardPorts) {
  ASSERT_TRUE(run("local f = _G['LuaAsyncSocketFactory'] "
                  "m = f:CreateAsyncSocket('serial-1') "
                  "local p = {} for kind = 0, 4 do p[#p + 1] = m:GetForwardPort(kind) end "
                  "result = table.concat(p, ',') .. ' ' .. select('#', f:CreateAsyncSocket(42)) "
                  "result = result .. ' ' .. tostring(getmetatable(m) == getmetatable(f:CreateAsyncSocket('x')))"));
  EXPECT_EQ("12157,12158,12159,12156,0 0 true", global_string("result"));
  EXPECT_EQ("serial-1", manager()->device_id());
}

TEST_F(LuaSocketManager, AListInThreeFramesCallsBackThreeTimesAndTheRequestDisappears) {
  ASSERT_TRUE(run(std::string(kPrelude) +
                  "m = TestSocketManager('dev-1') "
                  "local first = m:SendSocketMessage(14, function(...) "
                  "  note(select('#', ...), ...) "
                  "  local records = select(3, ...) "
                  "  if records then note(records[1].ID, records[1].Name, records[1].Number) end "
                  "  local status = select(2, ...) "
                  "  if status == 2 then done = true end "
                  "end) "
                  "local second = m:SendSocketMessage(38, 'no callback') "
                  "ids = first .. ',' .. second"));
  EXPECT_EQ("1,2", global_string("ids"));
  ASSERT_TRUE(wait_done());
  ASSERT_TRUE(run_until([&] { return manager()->request_count() == 0; }));
  ASSERT_TRUE(run("result = table.concat(log, ' | ')"));
  EXPECT_EQ("3 5 0 #3 | 1 Ann Example +1 555 0100 | 3 5 1 #2 | 4   | 2 5 2", global_string("result"));
  // The request without a function still went out, without its last argument.
  const std::string reqs = sim_.control(R"({"op": "requests"})");
  EXPECT_NE(std::string::npos, reqs.find(R"("code": 38, "body": "")")) << reqs;
}

TEST_F(LuaSocketManager, RepliesCarryTheirArgumentListsAndRecordKeys) {
  ASSERT_TRUE(run(std::string(kPrelude) +
                  "m = TestSocketManager('dev-1') "
                  "local pending = 4 "
                  "local function finish() pending = pending - 1; if pending == 0 then done = true end end "
                  "m:SendSocketMessage(13, function(kind, id, status, records) "
                  "  if status == 2 then note('13 end', kind, id); finish() return end "
                  "  local r = records[1] "
                  "  note('13', id, status, r.Name, r.packName, r.ver, r.verCode, r.Size, r.Location, r.time) "
                  "end) "
                  "m:SendSocketMessage(40, function(...) note('40', ...); finish() end) "
                  "m:SendSocketMessage(5, function(kind, status, records) "
                  "  if status == 2 then finish() return end "
                  "  note('5', string.format('%.0f', records[1].Size)) "
                  "end) "
                  "m:SendSocketMessage(111, function(kind, status, extra) "
                  "  if status == 2 then note('111 end', string.format('%.0f', extra)); finish() end "
                  "end)"));
  ASSERT_TRUE(wait_done());
  ASSERT_TRUE(run("table.sort(log) result = table.concat(log, ' | ')"));
  EXPECT_EQ("111 end 3221225472 | 13 dev-1 0 Maps com.example.maps 10.2.1 1021 4404019 0 1577836800000 | "
            "13 dev-1 1 空白 cn.example.blank  0 0 1 0 | 13 end 5 dev-1 | "
            "40 5 dev-1 5 3 1 2 7 4 6 32000000000 8000000000 64000000000 16000000000 /storage/0000-0000 /sdcard | "
            "5 5368709120",
            global_string("result"));
}

TEST_F(LuaSocketManager, CancelFromInsideACallbackEndsTheRequestAtOnce) {
  ASSERT_TRUE(sim_.control_ok(R"({"op": "fault", "mode": "coalesce"})"));
  ASSERT_TRUE(run(std::string(kPrelude) +
                  "m = TestSocketManager('dev-1') "
                  "local id id = m:SendSocketMessage(14, function(kind, status) "
                  "  note(status) m:CancleTask(id) m:CancleTask(id) m:CancleTask(12345) done = true "
                  "end)"));
  ASSERT_TRUE(wait_done());
  settle();
  ASSERT_TRUE(run("result = table.concat(log, ' ')"));
  EXPECT_EQ("0", global_string("result"));
  EXPECT_EQ(0u, manager()->request_count());
  EXPECT_TRUE(sim_.control_ok(R"({"op": "wait_idle"})"));
}

TEST_F(LuaSocketManager, CancelAllAndCollectingTheObjectInsideACallback) {
  ASSERT_TRUE(sim_.control_ok(R"({"op": "fault", "mode": "silent", "code": 14, "count": 2})"));
  ASSERT_TRUE(run(std::string(kPrelude) +
                  "m = TestSocketManager('dev-1') "
                  "m:SendSocketMessage(14, function() note('silent 1') end) "
                  "m:SendSocketMessage(14, function() note('silent 2') end) "
                  "m:SendSocketMessage(54, function(kind, status) "
                  "  note('progress', status) m:CancleAllTask() "
                  "  m = nil collectgarbage('collect') collectgarbage('collect') done = true "
                  "end)"));
  ASSERT_TRUE(wait_done());
  settle();
  ASSERT_TRUE(run("result = table.concat(log, ' | ')"));
  EXPECT_EQ("progress 0", global_string("result"));
  EXPECT_TRUE(sim_.control_ok(R"({"op": "wait_idle"})")) << "every connection was closed";
}

TEST_F(LuaSocketManager, FaultsEndRequestsCleanly) {
  struct fault_case {
    const char* mode;
    const char* transcript;
    std::size_t log_lines;
  };
  const fault_case cases[] = {
      {"split", "5 0 step one | 5 1 step two | 5 2", 0},
      {"unlisted", "5 0 step one | 5 1 step two | 5 2", 1},  // one log line, the reply goes on
      {"close_early", "5 0 step one | 5 1 step two", 0},     // ends without a final callback
      {"huge", "6 dev-1", 0},                                 // a connection error
  };
  for (const auto& c : cases) {
    log_.clear();
    ASSERT_TRUE(sim_.control_ok(std::string(R"({"op": "fault", "mode": ")") + c.mode + "\"}"));
    ASSERT_TRUE(run(std::string(kPrelude) +
                    "m = TestSocketManager('dev-1') "
                    "m:SendSocketMessage(54, function(...) note(...) end)"));
    ASSERT_TRUE(run_until([&] { return manager()->request_count() == 0; })) << c.mode;
    ASSERT_TRUE(run("result = table.concat(log, ' | ')"));
    EXPECT_EQ(c.transcript, global_string("result")) << c.mode;
    EXPECT_EQ(c.log_lines, log_.size()) << c.mode;
    EXPECT_TRUE(sim_.control_ok(R"({"op": "wait_idle"})")) << c.mode;
  }
}

TEST_F(LuaSocketManager, EventChannelNotificationsAndErrors) {
  ASSERT_TRUE(run(std::string(kPrelude) +
                  "m = TestSocketManager('dev-1') "
                  "m:Init(function(...) note(...) end) "
                  "m:Init(function() note('second listener') end) "
                  "m:Connect()"));
  ASSERT_TRUE(run_until([&] { return sim_.control_ok(R"({"op": "wait_subscribed", "timeout": 0.05})"); }));
  ASSERT_TRUE(sim_.control_ok(R"({"op": "notify", "codes": [18, 19, 48, 50, 105, 106, 107], "mode": "split"})"));
  ASSERT_TRUE(run_until([&] {
    run("done = #log >= 7");
    return global_true("done");
  }));
  ASSERT_TRUE(run("result = table.concat(log, ' | ')"));
  EXPECT_EQ("dev-1 18 1 2 +15550100 Ann Example incoming  | dev-1 19 battery 80% | "
            "dev-1 48 1 +15550100 Hello there 1612310400000 1 15 3 0 | "
            "dev-1 50 2 +15550100 On my way 1612310400000 2 14 3 1 | "
            "dev-1 105 1 3 10 com.example.maps 50 4404019 | dev-1 106 1 4 com.example.notes 10 1048576 | "
            "dev-1 107 1 5 6 /sdcard/a /sdcard/b a.jpg 7 3145728 1",
            global_string("result"));
  ASSERT_TRUE(run("log = {}"));
  ASSERT_TRUE(sim_.control_ok(R"({"op": "drop_events", "how": "reset"})"));
  ASSERT_TRUE(run_until([&] {
    run("done = #log >= 1");
    return global_true("done");
  }));
  ASSERT_TRUE(run("result = table.concat(log, ' | ')"));
  EXPECT_EQ("dev-1 2", global_string("result"));
  // After UnInit nothing connects any more, and Init does not come back.
  ASSERT_TRUE(run("m:UnInit() m:Connect() m:Init(function() end) m:Connect()"));
  settle();
  EXPECT_FALSE(manager()->event_channel_bound());
  EXPECT_NE(std::string::npos, sim_.control(R"({"op": "stats"})").find("\"event_connections\": 0"));
}
