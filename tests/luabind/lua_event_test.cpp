// Listener containers driven from Lua through a small test class with the attach, detach and
// fire shapes every native event source uses.
#include <gtest/gtest.h>

#include "luabind/args.h"
#include "luabind/lua_event.h"
#include "luabind/registration.h"
#include "qv/message_loop.h"

#include <string>

using namespace luabind;

namespace {

constexpr const char* kClass = "Test.Source.Class";

struct source {
  CLuaEventContainer listeners;
};

int attach(lua_State* L) {
  source* s = check_object<source>(L, kClass);
  return s ? AttachLuaListener(L, 2, s->listeners) : 0;
}
int detach(lua_State* L) {
  source* s = check_object<source>(L, kClass);
  return s ? DetachLuaListener(L, 2, s->listeners) : 0;
}
int fire(lua_State* L) {
  source* s = check_object<source>(L, kClass);
  if (!s) return 0;
  const lua_Integer value = luaL_optinteger(L, 2, 0);
  FireLuaEvent(s->listeners, [value](lua_State* LL) {
    lua_pushinteger(LL, value);
    lua_createtable(LL, 0, 0);
    lua_pushstring(LL, "key");
    lua_pushstring(LL, "v");
    lua_settable(LL, -3);
    return 2;
  });
  return 0;
}
int gc(lua_State* L) {
  auto** block = static_cast<source**>(luaL_checkudata(L, 1, kClass));
  delete *block;
  *block = nullptr;
  return 0;
}
int create(lua_State* L) {
  QVLRT_PushQVObject(L, kClass, new source);
  return 1;
}

const QVLRT_METHOD kMethods[] = {{"AttachEvent", attach, 0}, {"DetachEvent", detach, 0},
                                 {"Fire", fire, 0},          {"__gc", gc, 0},
                                 {nullptr, nullptr, 0}};
const QVLRT_METHOD kFactoryMethods[] = {{"Create", create, 0}, {nullptr, nullptr, 0}};

void* factory(std::uintptr_t) {
  static int f;
  return &f;
}

class LuaEvents : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    QVLRT_ENV env = QVLRT_GetEnv(0);
    RegisterClass(env, kClass, kMethods);
    RegisterGlobal(env, "Test.Factory", "Test.Factory.Class", kFactoryMethods, factory);
  }
  lua_State* L() { return QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0)); }

  // Runs the code; returns the value of the global "result" as a string ("" when it raised).
  std::string run(const std::string& code) {
    int top = lua_gettop(L());
    EXPECT_EQ(luaL_loadstring(L(), code.c_str()), 0);
    if (QVLRT_LuaCall(L(), 0, 0, "test") != 0) return "";
    EXPECT_EQ(lua_gettop(L()), top);
    lua_getglobal(L(), "result");
    std::string r = lua_isstring(L(), -1) ? lua_tostring(L(), -1) : "(not a string)";
    lua_pop(L(), 1);
    return r;
  }

  static constexpr const char* kPrelude =
      "local src = _G['Test.Factory']:Create() "
      "local log = {} "
      "local function listener(name) return function(v, t) log[#log + 1] = name .. v .. t.key end end ";
};

}  // namespace

TEST_F(LuaEvents, CookiesCountFromOneAndAreNeverReused) {
  EXPECT_EQ(run(std::string(kPrelude) +
                "local a = src:AttachEvent(listener('a')) "
                "local b = src:AttachEvent(listener('b')) "
                "local c = src:AttachEvent(listener('c')) "
                "src:DetachEvent(b); src:DetachEvent(c) "
                "local d = src:AttachEvent(listener('d')) "
                "result = table.concat({a, b, c, d}, ',')"),
            "1,2,3,4");
}

TEST_F(LuaEvents, DetachRemovesOnlyItsOwnCookie) {
  EXPECT_EQ(run(std::string(kPrelude) +
                "local other = _G['Test.Factory']:Create() "
                "other:AttachEvent(listener('x')); other:AttachEvent(listener('y')) "
                "for i = 1, 3 do src:AttachEvent(listener('l' .. i)) end "
                "src:DetachEvent(2) "
                "src:DetachEvent(0); src:DetachEvent(99); src:DetachEvent(2) "
                "src:DetachEvent(-1); src:DetachEvent(2^40) "
                "other:DetachEvent(1) "  // cookie 1 of another container
                "src:Fire(7) "
                "result = table.concat(log, ' ')"),
            "l17v l37v");
}

TEST_F(LuaEvents, NonFunctionAttachesNothingAndReturnsNothing) {
  EXPECT_EQ(run(std::string(kPrelude) +
                "local n = select('#', src:AttachEvent('not a function')) "
                "local n2 = select('#', src:AttachEvent()) "
                "local c = src:AttachEvent(listener('f')) "
                "result = n .. n2 .. c"),
            "001");
}

TEST_F(LuaEvents, RaisingListenerDoesNotStopTheOthers) {
  EXPECT_EQ(run(std::string(kPrelude) +
                "src:AttachEvent(listener('a')) "
                "src:AttachEvent(function() error('listener fails') end) "
                "src:AttachEvent(listener('c')) "
                "src:Fire(1); src:Fire(2) "
                "result = table.concat(log, ' ')"),
            "a1v c1v a2v c2v");
}

TEST_F(LuaEvents, ListenersMayDetachThemselvesAndOthersWhileCalled) {
  EXPECT_EQ(run(std::string(kPrelude) +
                "local c2, c3 "
                "src:AttachEvent(function(v) log[#log + 1] = 'one' .. v; src:DetachEvent(1); src:DetachEvent(c3) end) "
                "c2 = src:AttachEvent(listener('two')) "
                "c3 = src:AttachEvent(listener('three')) "
                "src:AttachEvent(listener('four')) "
                "src:Fire(1); src:Fire(2) "
                "result = table.concat(log, ' ')"),
            "one1 two1v four1v two2v four2v");
}

TEST_F(LuaEvents, MethodCalledWithDotIsRejectedAndChangesNothing) {
  EXPECT_EQ(run(std::string(kPrelude) +
                "src:AttachEvent(listener('a')) "
                "local ok = pcall(function() src.DetachEvent(1) end) "
                "local ok2 = pcall(function() src.AttachEvent(listener('b')) end) "
                "src:Fire(3) "
                "result = tostring(ok) .. tostring(ok2) .. ' ' .. table.concat(log, ' ')"),
            "falsefalse a3v");
}

TEST_F(LuaEvents, DetachedAndCollectedListenersAreReleased) {
  EXPECT_EQ(run("local src = _G['Test.Factory']:Create() "
                "local weak = setmetatable({}, {__mode = 'k'}) "
                "local f, g = function() end, function() end "
                "weak[f] = true; weak[g] = true "
                "local cf = src:AttachEvent(f); src:AttachEvent(g) "
                "f, g = nil, nil "
                "src:DetachEvent(cf) "
                "collectgarbage('collect') "
                "local left = 0 for _ in pairs(weak) do left = left + 1 end "
                "local before = left "
                "src = nil; collectgarbage('collect'); collectgarbage('collect') "
                "left = 0 for _ in pairs(weak) do left = left + 1 end "
                "result = before .. left"),
            "10");  // g is held until its owner goes away
}

TEST(MultiEventContainer, NamesHaveTheirOwnCookiesAndUnknownNamesFail) {
  CMultiEventContainer<CLuaEvent> multi;
  IEventEnum<CLuaEvent>* e = reinterpret_cast<IEventEnum<CLuaEvent>*>(1);
  EXPECT_EQ(multi.GetEventEnum(L"click", &e), kFail);
  EXPECT_EQ(e, nullptr);
  std::uint32_t c1 = 0, c2 = 0, c3 = 0;
  multi.AttachEvent(L"click", std::make_unique<CLuaEvent>(), &c1);
  multi.AttachEvent(L"click", std::make_unique<CLuaEvent>(), &c2);
  multi.AttachEvent(L"close", std::make_unique<CLuaEvent>(), &c3);
  EXPECT_EQ(c1, 1u);
  EXPECT_EQ(c2, 2u);
  EXPECT_EQ(c3, 1u);
  std::unique_ptr<CLuaEvent> out;
  EXPECT_EQ(multi.DetachEvent(L"none", 1, &out), kFail);
  EXPECT_EQ(multi.DetachEvent(L"close", 2, &out), kFail);
  EXPECT_EQ(multi.DetachEvent(L"click", 1, &out), kOk);
  EXPECT_NE(out, nullptr);
  ASSERT_EQ(multi.GetEventEnum(L"click", &e), kOk);
  CLuaEvent* ev = nullptr;
  EXPECT_EQ(e->Next(&ev), 0);
  EXPECT_NE(ev, nullptr);
  EXPECT_EQ(e->Next(&ev), 1);
  EXPECT_EQ(ev, nullptr);
  EXPECT_EQ(multi.Reserved(), kOk);
}
