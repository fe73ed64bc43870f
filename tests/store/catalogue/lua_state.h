// A bare Lua state for the catalogue tests, with a helper that prints a table in a stable form.
#pragma once

#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include <string>

namespace catalogue_test {

class lua_state {
 public:
  lua_state() : L(luaL_newstate()) {
    luaL_openlibs(L);
    // dump(v): tables as {k=v,...} with keys sorted, strings quoted.
    run(R"(
      function dump(v)
        if type(v) == "string" then return string.format("%q", v) end
        if type(v) ~= "table" then return tostring(v) end
        local keys = {}
        for k in pairs(v) do keys[#keys + 1] = k end
        table.sort(keys, function(a, b)
          if type(a) == type(b) then return a < b end
          return type(a) == "number"
        end)
        local parts = {}
        for _, k in ipairs(keys) do parts[#parts + 1] = tostring(k) .. "=" .. dump(v[k]) end
        return "{" .. table.concat(parts, ",") .. "}"
      end)");
  }
  ~lua_state() { lua_close(L); }
  lua_state(const lua_state&) = delete;
  lua_state& operator=(const lua_state&) = delete;

  std::string run(const std::string& chunk) {
    if (luaL_dostring(L, chunk.c_str()) == 0) return {};
    std::string err = lua_tostring(L, -1) ? lua_tostring(L, -1) : "?";
    lua_pop(L, 1);
    return err;
  }
  // dump() of the value on top of the stack, which is popped.
  std::string dump_top() {
    lua_getglobal(L, "dump");
    lua_insert(L, -2);
    if (lua_pcall(L, 1, 1, 0) != 0) return "error";
    std::string r = lua_tostring(L, -1);
    lua_pop(L, 1);
    return r;
  }

  lua_State* const L;
};

}  // namespace catalogue_test
