// Catalogue and update answers: the body is percent-decoded, parsed as JSON within its bounds
// and turned into the Lua table of each request type.
// Property: a table is pushed exactly when the answer fits, and nothing else stays on the stack.
#include "fuzz_check.h"
#include "store/http_request.h"

#include <json/json.h>
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static lua_State* L = luaL_newstate();
  const std::string body(reinterpret_cast<const char*>(data), size);
  Json::Value root;
  if (!store::ParseAnswer(store::PercentDecode(body), root)) return 0;
  for (std::int32_t type = 0; type <= 8; ++type) {
    const int top = lua_gettop(L);
    const bool pushed = store::PushAnswerTable(L, type, root, body);
    FUZZ_CHECK(lua_gettop(L) == top + (pushed ? 1 : 0));
    if (pushed) FUZZ_CHECK(lua_istable(L, -1));
    lua_settop(L, top);
  }
  lua_gc(L, LUA_GCCOLLECT, 0);
  return 0;
}
