#include "luabind/args.h"

#include "qv/text.h"

namespace luabind {

namespace {
std::string bytes_at(lua_State* L, int index) {
  lua_pushvalue(L, index);  // converting a copy keeps a number argument a number
  std::size_t n = 0;
  const char* s = lua_tolstring(L, -1, &n);
  std::string out(s ? s : "", s ? n : 0);
  lua_pop(L, 1);
  return out;
}
}  // namespace

std::string check_string(lua_State* L, int index) {
  // Not luaL_checklstring: it would turn a number argument into a string in place.
  if (!is_string(L, index)) luaL_typerror(L, index, lua_typename(L, LUA_TSTRING));
  return bytes_at(L, index);
}

std::string opt_string(lua_State* L, int index, const std::string& def) {
  return is_string(L, index) ? bytes_at(L, index) : def;
}

std::wstring check_wstring(lua_State* L, int index) {
  return qv::text::utf8_to_wide(check_string(L, index));
}

std::wstring opt_wstring(lua_State* L, int index, const std::wstring& def) {
  return is_string(L, index) ? qv::text::utf8_to_wide(bytes_at(L, index)) : def;
}

lua_Number check_number(lua_State* L, int index) { return luaL_checknumber(L, index); }

lua_Number opt_number(lua_State* L, int index, lua_Number def) {
  return is_number(L, index) ? lua_tonumber(L, index) : def;
}

bool opt_bool(lua_State* L, int index, bool def) {
  return lua_type(L, index) == LUA_TNONE ? def : lua_toboolean(L, index) != 0;
}

std::uintptr_t opt_handle(lua_State* L, int index) {
  if (lua_type(L, index) == LUA_TLIGHTUSERDATA)
    return reinterpret_cast<std::uintptr_t>(lua_touserdata(L, index));
  return opt_int<std::uintptr_t>(L, index, 0);
}

void check_function(lua_State* L, int index) { luaL_checktype(L, index, LUA_TFUNCTION); }
void check_table(lua_State* L, int index) { luaL_checktype(L, index, LUA_TTABLE); }

void push_string(lua_State* L, const std::string& bytes) {
  lua_pushlstring(L, bytes.data(), bytes.size());
}
void push_wstring(lua_State* L, const std::wstring& text) {
  push_string(L, qv::text::wide_to_utf8(text));
}

void set_field(lua_State* L, const char* key, const std::string& value) {
  push_string(L, value);
  lua_setfield(L, -2, key);
}
void set_field(lua_State* L, const char* key, const std::wstring& value) {
  push_wstring(L, value);
  lua_setfield(L, -2, key);
}
void set_field(lua_State* L, const char* key, const char* value) {
  lua_pushstring(L, value);
  lua_setfield(L, -2, key);
}
void set_number(lua_State* L, const char* key, lua_Number value) {
  lua_pushnumber(L, value);
  lua_setfield(L, -2, key);
}
void set_bool(lua_State* L, const char* key, bool value) {
  lua_pushboolean(L, value ? 1 : 0);
  lua_setfield(L, -2, key);
}

}  // namespace luabind
