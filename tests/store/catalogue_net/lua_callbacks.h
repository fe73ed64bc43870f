// A Lua state whose callbacks note what they receive (as dump() text, in arrival order) and
// can end the message loop.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "http_test_support.h"
#include "lua_state.h"
#include "luabind/lua_event.h"

namespace catalogue_test {

class lua_callbacks : public lua_state {
 public:
  lua_callbacks() {
    lua_pushcfunction(L, [](lua_State*) -> int {
      http_test::loop_runner::finish();
      return 0;
    });
    lua_setglobal(L, "finish");
    EXPECT_EQ("", run(R"(
      seen, order = {}, {}
      function make_cb(name, last)
        return function(...)
          local args = {...}
          local parts = {}
          for i = 1, select("#", ...) do parts[i] = dump(args[i]) end
          seen[name] = table.concat(parts, " ")
          order[#order + 1] = name
          if last then finish() end
        end
      end)"));
  }

  // A callback that records under name; `last` ends the loop when it is called.
  std::unique_ptr<luabind::CLuaEvent> cb(const std::string& name, bool last = false) {
    lua_getglobal(L, "make_cb");
    lua_pushstring(L, name.c_str());
    lua_pushboolean(L, last);
    lua_call(L, 2, 1);
    auto e = std::make_unique<luabind::CLuaEvent>();
    e->Hold(L, -1);
    lua_pop(L, 1);
    return e;
  }

  // What the callback of that name received, or "(not called)".
  std::string seen(const std::string& name) {
    lua_getglobal(L, "seen");
    lua_getfield(L, -1, name.c_str());
    std::string r = lua_isstring(L, -1) ? lua_tostring(L, -1) : "(not called)";
    lua_pop(L, 2);
    return r;
  }
  std::string order() {
    EXPECT_EQ("", run("__order = table.concat(order, ' ')"));
    lua_getglobal(L, "__order");
    std::string r = lua_tostring(L, -1);
    lua_pop(L, 1);
    return r;
  }
};

}  // namespace catalogue_test
