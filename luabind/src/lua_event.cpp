#include "luabind/lua_event.h"

#include "luabind/args.h"

namespace luabind {

CLuaEvent::~CLuaEvent() { Release(); }

bool CLuaEvent::Release() {
  if (!L_) return false;
  luaL_unref(L_, LUA_REGISTRYINDEX, ref_);
  L_ = nullptr;
  ref_ = 0;
  return true;
}

bool CLuaEvent::Hold(lua_State* L, int index) {
  if (lua_type(L, index) != LUA_TFUNCTION) return false;
  Release();
  L_ = L;
  lua_pushvalue(L, index);
  ref_ = luaL_ref(L, LUA_REGISTRYINDEX);
  return true;
}

namespace {
std::unique_ptr<CLuaEvent> take_listener(lua_State* L, int func_index) {
  auto event = std::make_unique<CLuaEvent>();
  if (!event->Hold(L, func_index)) return nullptr;
  return event;
}
}  // namespace

int AttachLuaListener(lua_State* L, int func_index, CLuaEventContainer& container) {
  auto event = take_listener(L, func_index);
  if (!event) return 0;
  std::uint32_t cookie = 0;
  container.Attach(&cookie, std::move(event));
  lua_pushnumber(L, cookie);
  return 1;
}

int DetachLuaListener(lua_State* L, int cookie_index, CLuaEventContainer& container) {
  const auto n = check_int<std::int64_t>(L, cookie_index);
  // Cookies are 1 and above; anything beyond 32 bits matches none.
  std::uint32_t cookie = 0;
  if (n >= 1 && n <= 0xFFFFFFFF) cookie = static_cast<std::uint32_t>(n);
  std::unique_ptr<CLuaEvent> out;
  container.Detach(cookie, &out);  // released here, if it was there
  return 0;
}

int AttachLuaListener(lua_State* L, int func_index, const std::wstring& name,
                      CLuaMultiEventContainerBase& container, std::uint32_t* cookie) {
  auto event = take_listener(L, func_index);
  if (!event) return 1;
  container.AttachEvent(name, std::move(event), cookie);
  return 0;
}

}  // namespace luabind
