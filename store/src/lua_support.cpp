#include "lua_support.h"

#include <cstdio>

namespace store::lua {

void call(lua_State* L, int nargs, const char* context) {
  const int top = lua_gettop(L) - nargs - 1;
  if (lua_pcall(L, nargs, 0, 0) != 0) {
    const char* msg = lua_tostring(L, -1);
    std::fprintf(stderr, "%s: %s\n", context, msg ? msg : "(error object is not a string)");
  }
  lua_settop(L, top);
}

}  // namespace store::lua
