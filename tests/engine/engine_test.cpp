// The engine's guarantees as the host relies on them: lazy global objects, class metatables,
// pushed objects with __gc, protected calls that log, chunks from modules, packages, bitmaps.
#include <gtest/gtest.h>

#include "temp_dir.h"

#include "qv_engine.h"

#include <lauxlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

lua_State* state() { return QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0)); }

// Runs Lua code through the protected call; false when it raised.
bool run(const std::string& code, const char* context = "test") {
  lua_State* L = state();
  if (luaL_loadstring(L, code.c_str()) != 0) {
    ADD_FAILURE() << lua_tostring(L, -1);
    lua_pop(L, 1);
    return false;
  }
  return QVLRT_LuaCall(L, 0, 0, context) == 0;
}

lua_Number global_number(const char* name) {
  lua_getglobal(state(), name);
  lua_Number v = lua_tonumber(state(), -1);
  lua_pop(state(), 1);
  return v;
}

std::string read_all(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

struct widget {
  int value = 0;
};

int g_factory_calls = 0;
widget g_widget;
void* widget_factory(std::uintptr_t) {
  ++g_factory_calls;
  return &g_widget;
}

int g_null_calls = 0;
void* null_factory(std::uintptr_t) {
  ++g_null_calls;
  return nullptr;
}

int widget_set(lua_State* L) {
  auto** block = static_cast<widget**>(luaL_checkudata(L, 1, "Test.Widget.Class"));
  if (!block || !*block) return 0;
  (*block)->value = static_cast<int>(luaL_checkinteger(L, 2));
  return 0;
}
int widget_get(lua_State* L) {
  auto** block = static_cast<widget**>(luaL_checkudata(L, 1, "Test.Widget.Class"));
  if (!block || !*block) return 0;
  lua_pushinteger(L, (*block)->value);
  return 1;
}

std::atomic<int> g_freed{0};
int widget_gc(lua_State* L) {
  auto** block = static_cast<widget**>(luaL_checkudata(L, 1, "Test.Widget.Class"));
  if (block && *block) {
    delete *block;
    *block = nullptr;
    ++g_freed;
  }
  return 0;
}

int widget_make(lua_State* L) {
  QVLRT_PushQVObject(L, "Test.Widget.Class", new widget);
  return 1;
}

const QVLRT_METHOD kWidgetMethods[] = {{"Set", widget_set, 0},
                                       {"Get", widget_get, 0},
                                       {"__gc", widget_gc, 0},
                                       {nullptr, nullptr, 0}};
const QVLRT_METHOD kMakerMethods[] = {{"Make", widget_make, 0}, {nullptr, nullptr, 0}};

class Engine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    QVLRT_ENV env = QVLRT_GetEnv(0);
    ASSERT_NE(env, nullptr);
    ASSERT_EQ(QVLRT_RegisterClass(env, "Test.Widget.Class", kWidgetMethods, 0, 0), 0);
    QVLRT_GLOBAL_OBJ g{widget_factory, 0, "Test.Widget", "Test.Widget.Class", kWidgetMethods, 0};
    ASSERT_EQ(QVLRT_RegisterGlobalObj(env, g), 0);
    QVLRT_GLOBAL_OBJ n{null_factory, 0, "Test.Null", "Test.Null.Class", kMakerMethods, 0};
    ASSERT_EQ(QVLRT_RegisterGlobalObj(env, n), 0);
    QVLRT_GLOBAL_OBJ m{[](std::uintptr_t) -> void* {
                         static int maker;
                         return &maker;
                       },
                       0, "Test.Maker", "Test.Maker.Class", kMakerMethods, 0};
    ASSERT_EQ(QVLRT_RegisterGlobalObj(env, m), 0);
  }

  fs::path write(const fs::path& rel, const std::string& text) {
    fs::path p = dir_ / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }
  const tiv_test::TempDir tmp_;
  const fs::path dir_ = tmp_.path();
};

}  // namespace

TEST_F(Engine, GlobalObjectIsMadeOnFirstReadAndKept) {
  EXPECT_EQ(g_factory_calls, 0);  // registration alone does not create it
  ASSERT_TRUE(run("local a = _G['Test.Widget']; a:Set(41); same = rawequal(a, _G['Test.Widget'])"
                  "; got = _G['Test.Widget']:Get()"));
  EXPECT_EQ(g_factory_calls, 1);
  EXPECT_EQ(global_number("got"), 41);
  lua_getglobal(state(), "same");
  EXPECT_TRUE(lua_toboolean(state(), -1));
  lua_pop(state(), 1);
  EXPECT_EQ(g_widget.value, 41);
}

TEST_F(Engine, FactoryThatGivesNothingIsAskedAgain) {
  ASSERT_TRUE(run("first = _G['Test.Null'] == nil; second = _G['Test.Null'] == nil"));
  EXPECT_EQ(g_null_calls, 2);
  ASSERT_TRUE(run("unknown = _G['No.Such.Object'] == nil"));
}

TEST_F(Engine, MethodWithoutItsObjectRaisesAndChangesNothing) {
  g_widget.value = 7;
  EXPECT_FALSE(run("_G['Test.Widget'].Set(99)"));
  EXPECT_FALSE(run("_G['Test.Widget'].Set(_G['Test.Maker'], 99)"));  // another class
  EXPECT_EQ(g_widget.value, 7);
}

TEST_F(Engine, PushedObjectsHaveTheClassAndAreFreedByGc) {
  int before = g_freed;
  ASSERT_TRUE(run("local w = _G['Test.Maker']:Make(); w:Set(5); pushed = w:Get()"
                  "; for i = 1, 3 do _G['Test.Maker']:Make() end"));
  EXPECT_EQ(global_number("pushed"), 5);
  ASSERT_TRUE(run("collectgarbage('collect')"));
  EXPECT_EQ(g_freed - before, 4);
}

TEST_F(Engine, LuaCallLogsErrorsWithContextAndKeepsTheStack) {
  lua_State* L = state();
  const std::string log_before = read_all(QVLRT_GetLogPath());
  int top = lua_gettop(L);
  ASSERT_EQ(luaL_loadstring(L, "error('boom-4711')"), 0);
  EXPECT_NE(QVLRT_LuaCall(L, 0, 2, "Ctx::Name"), 0);
  ASSERT_EQ(lua_gettop(L), top + 2);  // the results asked for, as nils
  EXPECT_TRUE(lua_isnil(L, -1));
  EXPECT_TRUE(lua_isnil(L, -2));
  lua_settop(L, top);
  const std::string log_after = read_all(QVLRT_GetLogPath());
  ASSERT_GT(log_after.size(), log_before.size());
  const std::string added = log_after.substr(log_before.size());
  EXPECT_NE(added.find("Ctx::Name"), std::string::npos) << added;
  EXPECT_NE(added.find("boom-4711"), std::string::npos) << added;

  // Success: arguments in, results out.
  ASSERT_EQ(luaL_loadstring(L, "local a, b = ...; return a + b"), 0);
  lua_pushinteger(L, 2);
  lua_pushinteger(L, 3);
  EXPECT_EQ(QVLRT_LuaCall(L, 2, 1, "sum"), 0);
  ASSERT_EQ(lua_gettop(L), top + 1);
  EXPECT_EQ(lua_tointeger(L, -1), 5);
  lua_settop(L, top);

  // Nothing to call: still returns, with the results' places filled.
  EXPECT_NE(QVLRT_LuaCall(L, top + 5, 1, "empty"), 0);
  EXPECT_EQ(lua_gettop(L), top + 1);
  lua_settop(L, top);
}

TEST_F(Engine, ChunksComeOnlyFromModulesThatDefineTheEntry) {
  QVLRT_RUNTIME rt = QVLRT_GetRuntime(QVLRT_GetEnv(0), 0);
  struct Case {
    const char* file;
    const char* text;  // null: the file does not exist
    bool chunk;
  } cases[] = {
      {"missing.lua", nullptr, false},
      {"syntax.lua", "function RegisterObject( end", false},
      {"raises.lua", "function RegisterObject() end error('at load')", false},
      {"noentry.lua", "local x = 1", false},  // must not reuse an earlier module's entry
      {"good.lua", "loaded = (loaded or 0) + 1 function RegisterObject() ran = 'good' end", true},
      {"noentry2.lua", "local y = 2", false},
  };
  for (const Case& c : cases) {
    fs::path p = dir_ / c.file;
    if (c.text) write(c.file, c.text);
    QVLRT_CHUNK chunk = reinterpret_cast<QVLRT_CHUNK>(1);
    int r = QVLRT_CreateChunkFromModule(rt, c.file, p.string().c_str(), "RegisterObject", &chunk);
    EXPECT_EQ(r == 0, c.chunk) << c.file;
    EXPECT_EQ(chunk != nullptr, c.chunk) << c.file;
    if (!chunk) continue;
    lua_State* L = QVLRT_GetLuaState(rt);
    int top = lua_gettop(L);
    ASSERT_EQ(QVLRT_PrepareChunk(rt, chunk), 0);
    EXPECT_EQ(QVLRT_LuaCall(L, 0, 0, c.file), 0);
    EXPECT_EQ(lua_gettop(L), top);
    QVLRT_ReleaseChunk(chunk);
  }
  EXPECT_EQ(global_number("loaded"), 1);  // the module body ran once
  lua_getglobal(state(), "ran");
  EXPECT_STREQ(lua_tostring(state(), -1), "good");
  lua_pop(state(), 1);
  EXPECT_NE(QVLRT_PrepareChunk(rt, nullptr), 0);
}

TEST_F(Engine, ModulePathsAcceptBothSeparators) {
  write("sub/mod.lua", "function RegisterObject() sep_ok = true end");
  std::string p = (dir_ / "sub").string() + "\\mod.lua";
  QVLRT_RUNTIME rt = QVLRT_GetRuntime(QVLRT_GetEnv(0), 0);
  QVLRT_CHUNK chunk = nullptr;
  ASSERT_EQ(QVLRT_CreateChunkFromModule(rt, "mod", p.c_str(), "RegisterObject", &chunk), 0);
  QVLRT_ReleaseChunk(chunk);
}

// A UI package written for Windows hands Lua's own file functions paths with "\": they work on
// every target, and chunks are named with the system's one separator.
TEST_F(Engine, LuaFileFunctionsTakePathsWithBackslashes) {
  std::string win = dir_.string();
  for (char& c : win)
    if (c == '/') c = '\\';
  const std::string native_prefix =
      fs::path::preferred_separator == '/' ? dir_.string() + "/" : win + "\\";
  write("m.lua", "return 42");
  write("src.lua", "return debug.getinfo(1, 'S').source");
  write("bad.lua", "error('from bad')");
  write("lib/winmod.lua", "return {source = debug.getinfo(1, 'S').source}");
  lua_State* L = state();
  lua_pushstring(L, win.c_str());
  lua_setglobal(L, "W");
  lua_pushstring(L, native_prefix.c_str());
  lua_setglobal(L, "NATIVE");
  struct Case {
    const char* name;
    const char* code;  // raises on failure
  } cases[] = {
      {"io.open writes and reads",
       "local f = assert(io.open(W .. '\\\\new.txt', 'w')) f:write('one\\ntwo\\n') f:close() "
       "f = assert(io.open(W .. '\\\\new.txt', 'r')) assert(f:read('*l') == 'one') f:close()"},
      {"io.lines", "local t = {} for l in io.lines(W .. '\\\\new.txt') do t[#t + 1] = l end "
                   "assert(#t == 2 and t[2] == 'two', #t)"},
      {"io.input and io.output",
       "io.output(W .. '\\\\out.txt') io.write('x') io.close() io.output(io.stdout) "
       "io.input(W .. '\\\\out.txt') assert(io.read('*a') == 'x') io.close() io.input(io.stdin)"},
      {"dofile", "assert(dofile(W .. '\\\\m.lua') == 42)"},
      {"loadfile", "assert(assert(loadfile(W .. '\\\\m.lua'))() == 42)"},
      {"a chunk is named with one separator",
       "local s = assert(loadfile(W .. '\\\\src.lua'))() assert(s == '@' .. NATIVE .. 'src.lua', s)"},
      // Lua shortens a long chunk name to "..." and its tail, which must still be the name's.
      {"an error names the chunk with one separator",
       "local ok, e = pcall(dofile, W .. '\\\\bad.lua') "
       "local name, head = NATIVE .. 'bad.lua', (e:match('^(.-):1:') or '') "
       "assert(not ok and (head == name or (head:sub(1, 3) == '...' and #head > 20 and "
       "name:sub(-(#head - 3)) == head:sub(4))), e)"},
      {"os.rename and os.remove",
       "assert(os.rename(W .. '\\\\new.txt', W .. '\\\\renamed.txt')) "
       "assert(io.open(NATIVE .. 'renamed.txt')):close() "
       "assert(os.remove(W .. '\\\\renamed.txt')) assert(io.open(NATIVE .. 'renamed.txt') == nil)"},
      {"require searches a path with backslashes and leaves its text alone",
       "local own = W .. '\\\\lib\\\\?.lua;' package.path = own .. package.path "
       "local before = package.path local m = require('winmod') "
       "assert(m.source == '@' .. NATIVE .. 'lib' .. NATIVE:sub(-1) .. 'winmod.lua', m.source) "
       "assert(package.path == before) "
       "local ok, e = pcall(require, 'no_such_module_here') "
       "assert(not ok and package.path == before, e)"},
      {"errors stay errors", "local f, e = io.open(W .. '\\\\missing\\\\x.txt') assert(f == nil and e)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (luaL_dostring(L, c.code) != 0) {
      ADD_FAILURE() << lua_tostring(L, -1);
      lua_pop(L, 1);
    }
  }
  // Modules the host loads by path are named as the system writes the path, too.
  write("sub/named.lua", "function RegisterObject() end named_source = debug.getinfo(1, 'S').source");
  QVLRT_RUNTIME rt = QVLRT_GetRuntime(QVLRT_GetEnv(0), 0);
  QVLRT_CHUNK chunk = nullptr;
  ASSERT_EQ(QVLRT_CreateChunkFromModule(rt, "named", (win + "\\sub\\named.lua").c_str(),
                                        "RegisterObject", &chunk),
            0);
  QVLRT_ReleaseChunk(chunk);
  lua_getglobal(L, "named_source");
  const std::string sub_native = fs::path::preferred_separator == '/' ? "sub/" : "sub\\";
  EXPECT_EQ("@" + native_prefix + sub_native + "named.lua", lua_tostring(L, -1));
  lua_pop(L, 1);
}

TEST_F(Engine, PackageIsTheFirstFolderOfThatNameAnyCase) {
  write("one/Xar/onload.lua", "package_ran = 'one'");
  write("two/XAR/onload.lua", "package_ran = 'two'");
  write("three/other/onload.lua", "package_ran = 'other'");
  ASSERT_EQ(QVUE_AddXARSearchPath((dir_ / "three").string().c_str()), 0);
  ASSERT_EQ(QVUE_AddXARSearchPath((dir_ / "one").string().c_str()), 0);
  ASSERT_EQ(QVUE_AddXARSearchPath((dir_ / "two").string().c_str()), 0);
  EXPECT_EQ(QVUE_LoadXAR("xar"), 0);
  lua_getglobal(state(), "package_ran");
  EXPECT_STREQ(lua_tostring(state(), -1), "one");
  lua_pop(state(), 1);
  EXPECT_NE(QVUE_LoadXAR("absent"), 0);
}

TEST(Bitmap, ReferenceCountedBgraRowsTopDown) {
  EXPECT_EQ(QV_CreateBitmap(1, 4, 4), nullptr);
  EXPECT_EQ(QV_CreateBitmap(0, 0, 4), nullptr);
  EXPECT_EQ(QV_CreateBitmap(0, 4, -1), nullptr);
  EXPECT_EQ(QV_CreateBitmap(0, 1 << 16, 1 << 16), nullptr);

  QV_BITMAP b = QV_CreateBitmap(0, 3, 2);
  ASSERT_NE(b, nullptr);
  int w = 0, h = 0;
  unsigned char* px = QV_GetBitmapBuffer(b, &w, &h);
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 2);
  for (int i = 0; i < 3 * 2 * 4; ++i) EXPECT_EQ(px[i], 0);
  px[3 * 2 * 4 - 1] = 0xFF;  // the last byte of the buffer is ours to write

  EXPECT_EQ(QV_AddRefBitmap(b), 2);
  lua_State* L = state();
  ASSERT_EQ(QV_PushBitmap(L, b), 0);  // Lua's own reference
  lua_setglobal(L, "bmp");
  ASSERT_TRUE(run("local w, h = bmp:GetSize(); bw, bh = w, h"));
  EXPECT_EQ(global_number("bw"), 3);
  EXPECT_EQ(global_number("bh"), 2);
  ASSERT_TRUE(run("bmp = nil; collectgarbage('collect')"));
  EXPECT_EQ(QV_ReleaseBitmap(b), 1);
  EXPECT_EQ(QV_ReleaseBitmap(b), 0);
}
