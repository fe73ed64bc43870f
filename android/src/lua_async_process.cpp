#include "android/lua_async_process.h"

#include "android/async_process.h"
#include "android/process_output.h"
#include "luabind/args.h"
#include "luabind/lua_event.h"
#include "luabind/registration.h"
#include "qv/text.h"

#include <lauxlib.h>

namespace tiv::android {
namespace {

constexpr const char* kObjectName = "AsyncProcess.Manager";
constexpr const char* kClassName = "AsyncProcess.Manager.Class";

// The Lua function of one command, called with the result read as its mode asks.
class LuaProcessListener : public ProcessListener {
 public:
  bool Hold(lua_State* L, int index) { return function_.Hold(L, index); }

  void OnProcessOutput(std::int32_t id, std::int32_t mode, const std::string& output) override {
    if (mode != kParseRaw && mode != kParseBadging && mode != kParseAdbPortOwner) return;
    function_.Fire([&](lua_State* L) {
      lua_pushinteger(L, id);
      if (mode == kParseRaw) {
        luabind::push_string(L, output);
        return 2;
      }
      const std::wstring text = qv::text::utf8_to_wide(output);
      if (mode == kParseBadging) {
        const BadgingInfo b = ParseBadging(text);
        luabind::push_wstring(L, b.package);
        luabind::push_wstring(L, b.label);
        luabind::push_wstring(L, b.icon);
        return 4;
      }
      const auto pid = ParseAdbPortOwner(text);
      if (!pid) return 1;
      lua_pushinteger(L, *pid);
      return 2;
    });
  }

 private:
  luabind::CLuaEvent function_;
};

// One object for the process; its worker is stopped at exit at the latest.
class CLuaAsyncProcess {
 public:
  static CLuaAsyncProcess& Instance() {
    static CLuaAsyncProcess instance;
    return instance;
  }
  CAsyncProcessRunner runner;
};

CAsyncProcessRunner& runner_of(lua_State* L) {
  return luabind::check_object<CLuaAsyncProcess>(L, kClassName)->runner;
}

int Init(lua_State* L) {
  runner_of(L).Init();
  return 0;
}

int UnInit(lua_State* L) {
  runner_of(L).UnInit();
  return 0;
}

int AddCommand(lua_State* L) {
  CAsyncProcessRunner& runner = runner_of(L);
  const std::wstring line = luabind::check_wstring(L, 2);
  const auto mode = luabind::check_int<std::int32_t>(L, 3);
  const auto timeout_ms = luabind::opt_int<std::int32_t>(L, 4, -1);
  // Anything but a function: the command runs and its result is dropped.
  auto listener = std::make_unique<LuaProcessListener>();
  std::unique_ptr<ProcessListener> held;
  if (listener->Hold(L, 5)) held = std::move(listener);
  lua_pushinteger(L, runner.AddCommand(line, mode, timeout_ms, std::move(held)));
  return 1;
}

int CancleTask(lua_State* L) {
  CAsyncProcessRunner& runner = runner_of(L);
  runner.CancelTask(luabind::check_int<std::int32_t>(L, 2));
  return 0;
}

int CancleAllTask(lua_State* L) {
  runner_of(L).CancelAllTasks();
  return 0;
}

const QVLRT_METHOD kMethods[] = {
    {"Init", Init, 0},
    {"UnInit", UnInit, 0},
    {"AddCommand", AddCommand, 0},
    {"CancleTask", CancleTask, 0},
    {"CancleAllTask", CancleAllTask, 0},
    {nullptr, nullptr, 0},
};

void* factory(std::uintptr_t) { return &CLuaAsyncProcess::Instance(); }

}  // namespace

void RegisterAsyncProcessManager(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, kObjectName, kClassName, kMethods, factory);
}

}  // namespace tiv::android
