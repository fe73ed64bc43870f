// The drag and drop shell's listener table with window queries of the test's own: two windows,
// a top-level one at (100, 100) of 200 x 200 and an unregistered-by-default child of 50 x 50 in
// its top-left corner, and a third that cannot take drops.
#include "drag_drop_shell.h"

#include <gtest/gtest.h>

#include <lauxlib.h>

#include <set>
#include <string>
#include <vector>

namespace {

using qv::loop::window_handle;

int g_top_tag, g_child_tag, g_refusing_tag;
window_handle const kTop = &g_top_tag;
window_handle const kChild = &g_child_tag;
window_handle const kRefusing = &g_refusing_tag;

std::set<window_handle> g_registered;
std::vector<window_handle> g_revoked;

bool fake_register(window_handle w) {
  if (w == kRefusing) return false;
  g_registered.insert(w);
  return true;
}
void fake_revoke(window_handle w) {
  g_registered.erase(w);
  g_revoked.push_back(w);
}
window_handle fake_from_point(int x, int y) {
  if (x >= 100 && x < 150 && y >= 100 && y < 150) return kChild;
  if (x >= 100 && x < 300 && y >= 100 && y < 300) return kTop;
  if (x >= 400 && x < 500 && y >= 400 && y < 500) return kRefusing;
  return nullptr;
}
bool fake_to_client(window_handle, int& x, int& y) {
  x -= 100;
  y -= 100;
  return true;
}

class DragDropShell : public ::testing::Test {
 protected:
  void SetUp() override {
    g_registered.clear();
    g_revoked.clear();
    L = QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0));
    shell = std::make_unique<desktop::CLuaDragDropShell>(
        desktop::DropWindowQueries{fake_register, fake_revoke, fake_from_point, fake_to_client});
    run("log = {} answer = 1");
  }
  void TearDown() override { shell.reset(); }

  void run(const std::string& code) {
    ASSERT_EQ(luaL_loadstring(L, code.c_str()), 0);
    ASSERT_EQ(QVLRT_LuaCall(L, 0, 0, "test"), 0);
  }

  // Registers a listener that logs "name:type|cfFormat|x|y|items" and answers OnDragOver with
  // the global "answer".
  void register_logger(window_handle w, const std::string& name) {
    const std::string code =
        "return function(t) "
        "  local parts = {'" + name + ":' .. t.type, tostring(t.cfFormat), tostring(t.x), "
        "                 tostring(t.y)} "
        "  for i = 1, #t do parts[#parts + 1] = t[i] end "
        "  log[#log + 1] = table.concat(parts, '|') "
        "  if t.type == 'OnDragOver' then return answer end "
        "end";
    ASSERT_EQ(luaL_loadstring(L, code.c_str()), 0);
    ASSERT_EQ(QVLRT_LuaCall(L, 0, 1, "test"), 0);
    shell->Register(L, w, lua_gettop(L));
    lua_pop(L, 1);
  }

  std::string take_log() {
    run("result = table.concat(log, '\\n') log = {}");
    lua_getglobal(L, "result");
    std::string r = lua_tostring(L, -1);
    lua_pop(L, 1);
    return r;
  }

  lua_State* L = nullptr;
  std::unique_ptr<desktop::CLuaDragDropShell> shell;
  const desktop::os::drag_items files = {u"C:\\a.txt", u"C:\\\u4e2d.txt", u"D:\\c"};
};

TEST_F(DragDropShell, TheRegisteredWindowGetsEnterOverAndDropInClientCoordinates) {
  register_logger(kTop, "top");
  EXPECT_EQ(g_registered.count(kTop), 1u);
  shell->OnDragEnter(15, files, 150, 160);
  run("answer = 2");
  EXPECT_EQ(shell->OnDragOver(15, files, 151, 161, 4), 2u);
  shell->OnDrop(15, files, 152, 162);
  const std::string items = "|C:\\a.txt|C:\\\xe4\xb8\xad.txt|D:\\c";
  EXPECT_EQ(take_log(), "top:OnDropEnter|15|50|60" + items + "\ntop:OnDragOver|15|51|61" + items +
                            "\ntop:OnDrop|15|52|62" + items);

  // An answer that is no number shows no effect.
  run("answer = 'copy'");
  EXPECT_EQ(shell->OnDragOver(13, {u"text"}, 150, 160, 1), 0u);
  EXPECT_EQ(take_log(), "top:OnDragOver|13|50|60|text");
}

TEST_F(DragDropShell, NoCallOutsideTheRegisteredWindow) {
  register_logger(kTop, "top");
  register_logger(kRefusing, "refusing");
  EXPECT_EQ(g_registered.count(kRefusing), 0u);
  const struct {
    const char* what;
    int x, y;
  } points[] = {{"unregistered child", 120, 120}, {"no window", 10, 10}, {"refusing", 450, 450}};
  for (const auto& p : points) {
    shell->OnDragEnter(15, files, p.x, p.y);
    EXPECT_EQ(shell->OnDragOver(15, files, p.x, p.y, 4), 4u) << p.what;  // the effect stays
    shell->OnDrop(15, files, p.x, p.y);
    EXPECT_EQ(take_log(), "") << p.what;
  }
}

TEST_F(DragDropShell, ASecondRegistrationReplacesTheListenerAndRevokeEndsIt) {
  register_logger(kTop, "first");
  register_logger(kTop, "second");
  shell->OnDrop(15, files, 150, 160);
  EXPECT_EQ(take_log(), "second:OnDrop|15|50|60|C:\\a.txt|C:\\\xe4\xb8\xad.txt|D:\\c");

  shell->Revoke(kTop);
  EXPECT_EQ(g_revoked, std::vector<window_handle>{kTop});
  shell->OnDrop(15, files, 150, 160);
  EXPECT_EQ(take_log(), "");
}

TEST_F(DragDropShell, LeaveReachesEveryRegisteredWindowEvenWhenOneRevokesAnother) {
  register_logger(kTop, "top");
  register_logger(kChild, "child");
  shell->OnDragLeave();
  const std::string log = take_log();
  EXPECT_TRUE(log == "top:OnDragLeave|nil|nil|nil\nchild:OnDragLeave|nil|nil|nil" ||
              log == "child:OnDragLeave|nil|nil|nil\ntop:OnDragLeave|nil|nil|nil")
      << log;

  // The top window's listener revokes both windows during the walk: a window revoked before
  // its turn is not called, and nothing freed is touched.
  ASSERT_EQ(luaL_loadstring(L, "return function(t) log[#log + 1] = 'child' end"), 0);
  ASSERT_EQ(QVLRT_LuaCall(L, 0, 1, "test"), 0);
  shell->Register(L, kChild, lua_gettop(L));
  lua_pop(L, 1);
  static desktop::CLuaDragDropShell* current;
  current = shell.get();
  lua_pushcfunction(L, [](lua_State* state) -> int {
    current->Revoke(kTop);
    current->Revoke(kChild);
    lua_getglobal(state, "log");
    lua_pushstring(state, "revoked");
    lua_rawseti(state, -2, static_cast<int>(lua_objlen(state, -2)) + 1);
    lua_pop(state, 1);
    return 0;
  });
  shell->Register(L, kTop, lua_gettop(L));
  lua_pop(L, 1);
  shell->OnDragLeave();
  const std::string second = take_log();
  // The walk's order is the table's (by handle); either order has one right outcome.
  EXPECT_TRUE(second == "revoked" || second == "child\nrevoked") << second;
}

TEST_F(DragDropShell, ARaisingListenerShowsNoEffectAndDestructionRevokesEveryWindow) {
  ASSERT_EQ(luaL_loadstring(L, "return function(t) error('listener fails') end"), 0);
  ASSERT_EQ(QVLRT_LuaCall(L, 0, 1, "test"), 0);
  shell->Register(L, kTop, lua_gettop(L));
  lua_pop(L, 1);
  EXPECT_EQ(shell->OnDragOver(15, files, 150, 160, 4), 0u);
  register_logger(kChild, "child");
  shell.reset();
  EXPECT_EQ(g_revoked.size(), 2u);
  EXPECT_TRUE(g_registered.empty());
}

}  // namespace
