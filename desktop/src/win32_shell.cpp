// "Win32Shell.Object": small system services for the Lua code. The object has no state, and its
// methods do not look at argument 1.
#include "luabind/args.h"
#include "luabind/registration.h"
#include "shell_os.h"

#include "qv/message_loop.h"

#include <lauxlib.h>

namespace desktop {
namespace {

// The exit code is read from index 1, where a call with ":" has the object (giving 0).
int PostQuitMessage(lua_State* L) {
  qv::loop::post_quit(luabind::opt_int<int>(L, 1, 0));
  return 0;
}

int GetTickCount(lua_State* L) {
  lua_pushnumber(L, static_cast<lua_Number>(os::tick_count()));
  return 1;
}

const QVLRT_METHOD kMethods[] = {
    {"PostQuitMessage", PostQuitMessage, 0},
    {"GetTickCount", GetTickCount, 0},
    {nullptr, nullptr, 0},
};

struct CLuaWin32Shell {};

void* Factory(std::uintptr_t) {
  static CLuaWin32Shell shell;
  return &shell;
}

}  // namespace

void RegisterWin32Shell(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, "Win32Shell.Object", "Win32Shell.Class", kMethods, Factory);
}

}  // namespace desktop
