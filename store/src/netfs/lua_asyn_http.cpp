// "qv.win32.net.asyn_http" and "qv.win32.net.asyn_http_file" for Lua, and their factories.
#include "store/netfs/lua_net_fs.h"

#include "luabind/args.h"
#include "luabind/lua_event.h"
#include "luabind/lua_object.h"
#include "luabind/number_text.h"
#include "luabind/registration.h"
#include "qv/asyn_http_file.h"

#include <cmath>
#include <cstdio>
#include <memory>

namespace store {
namespace {

using namespace qv::win32::net;
using luabind::CLuaEvent;

constexpr const char* kHttpClass = "qv.win32.net.asyn_http";
constexpr const char* kHttpFactory = "qv.win32.net.asyn_http.factory";
constexpr const char* kHttpFactoryClass = "qv.win32.net.asyn_http.factory.class";
constexpr const char* kFileClass = "qv.win32.net.asyn_http_file";
constexpr const char* kFileFactory = "qv.win32.net.asyn_http_file.factory";
constexpr const char* kFileFactoryClass = "qv.win32.net.asyn_http_file.factory.class";

constexpr const char* kOnResponse = "on_asyn_http_response";
constexpr const char* kOnError = "on_asyn_http_error";
constexpr const char* kOnFileReady = "on_asyn_http_file_ready";
constexpr const char* kOnFileError = "on_asyn_http_file_error";

// ---- tables from Lua ----

std::string bytes_at(lua_State* L, int index) {
  std::size_t n = 0;
  const char* s = lua_tolstring(L, index, &n);  // only called on strings: no conversion
  return std::string(s, n);
}

// {name = value}: names are strings, values strings or numbers; each pair goes through the
// header list's set rule (an empty value removes a header already there).
bool read_headers(lua_State* L, int index, http_header_list& out) {
  if (lua_type(L, index) != LUA_TTABLE) return false;
  if (index < 0) index = lua_gettop(L) + index + 1;
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {
    const int vt = lua_type(L, -1);
    if (lua_type(L, -2) != LUA_TSTRING || (vt != LUA_TSTRING && vt != LUA_TNUMBER)) {
      lua_pop(L, 2);
      return false;
    }
    out.set(bytes_at(L, -2), vt == LUA_TSTRING ? bytes_at(L, -1) : luabind::number_text(lua_tonumber(L, -1), luabind::number_style::decimal));
    lua_pop(L, 1);
  }
  return true;
}

bool read_request_line(lua_State* L, int index, http_request& out) {
  if (lua_type(L, index) != LUA_TTABLE) return false;
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {
    if (lua_type(L, -2) != LUA_TSTRING || lua_type(L, -1) != LUA_TSTRING) {
      lua_pop(L, 2);
      return false;
    }
    const std::string key = bytes_at(L, -2);
    std::string* field = key == "Method"         ? &out.method
                         : key == "Request-URI"  ? &out.request_uri
                         : key == "HTTP-Version" ? &out.http_version
                                                 : nullptr;
    if (!field) {
      lua_pop(L, 2);
      return false;
    }
    *field = bytes_at(L, -1);
    lua_pop(L, 1);
  }
  return true;
}

// {["Request-Line"] = {...}, Headers = {...}, Body = "..."}.
bool read_request(lua_State* L, int index, http_request& out) {
  if (lua_type(L, index) != LUA_TTABLE) return false;
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {
    bool ok = lua_type(L, -2) == LUA_TSTRING;
    if (ok) {
      const std::string key = bytes_at(L, -2);
      const int value = lua_gettop(L);
      if (key == "Request-Line")
        ok = read_request_line(L, value, out);
      else if (key == "Headers")
        ok = read_headers(L, value, out.headers);
      else if (lua_type(L, -1) == LUA_TSTRING)
        out.body = bytes_at(L, -1);
      else
        ok = false;
    }
    if (!ok) {
      lua_pop(L, 2);
      return false;
    }
    lua_pop(L, 1);
  }
  return true;
}

// ---- tables to Lua ----

void push_response(lua_State* L, const http_response& r) {
  lua_createtable(L, 0, 0);
  lua_pushstring(L, "Status-Line");
  lua_createtable(L, 0, 0);
  luabind::set_field(L, "HTTP-Version", r.http_version);
  lua_pushstring(L, "Status-Code");
  lua_pushinteger(L, r.status_code);
  lua_settable(L, -3);
  luabind::set_field(L, "Reason-Phrase", r.reason_phrase);
  lua_settable(L, -3);
  lua_pushstring(L, "Headers");
  lua_createtable(L, 0, 0);
  for (const auto& p : r.headers) luabind::set_field(L, p.first.c_str(), p.second);  // the last one wins
  lua_settable(L, -3);
  luabind::set_field(L, "Body", r.body);
}

// ---- the objects ----

class lua_asyn_http : public asyn_http_event {
 public:
  lua_asyn_http() : http(this) {}
  ~lua_asyn_http() override { http.close(); }

  CLuaEvent* slot(const std::string& name) {
    if (name == kOnResponse) return &on_response_;
    if (name == kOnError) return &on_error_;
    return nullptr;
  }

  asyn_http http;

 private:
  void on_response(std::int32_t id, const http_response& r) override {
    on_response_.Fire([&](lua_State* L) {
      lua_pushinteger(L, id);
      push_response(L, r);
      return 2;
    });
  }
  void on_error(std::int32_t id, std::int32_t code) override {
    on_error_.Fire([&](lua_State* L) {
      lua_pushinteger(L, id);
      lua_pushinteger(L, code);
      return 2;
    });
  }

  CLuaEvent on_response_;
  CLuaEvent on_error_;
};

class lua_asyn_http_file : public asyn_http_file_event {
 public:
  lua_asyn_http_file() : file(this) {}
  ~lua_asyn_http_file() override { file.close(); }

  CLuaEvent* slot(const std::string& name) {
    if (name == kOnFileReady) return &on_ready_;
    if (name == kOnFileError) return &on_error_;
    return nullptr;
  }

  asyn_http_file file;

 private:
  void on_file_ready(std::int32_t id, const std::string& url, std::uint64_t,
                     const std::wstring& path, std::int32_t code) override {
    on_ready_.Fire([&](lua_State* L) {
      lua_pushinteger(L, id);
      luabind::push_string(L, url);
      luabind::push_wstring(L, path);
      lua_pushinteger(L, code);
      return 4;
    });
  }
  void on_file_error(std::int32_t id, const std::string& url, std::int32_t code) override {
    on_error_.Fire([&](lua_State* L) {
      lua_pushinteger(L, id);
      lua_pushlstring(L, url.data(), url.size());
      lua_pushinteger(L, code);
      return 3;
    });
  }
  void on_file_progress(std::int32_t, std::uint64_t, std::uint64_t, std::uint64_t) override {}

  CLuaEvent on_ready_;
  CLuaEvent on_error_;
};

// ---- "qv.win32.net.asyn_http" ----

int http_request_method(lua_State* L) {
  auto* self = luabind::check_object<lua_asyn_http>(L, kHttpClass);
  if (!self) return 0;
  const int n = lua_gettop(L);
  const auto id = luabind::opt_int<std::int32_t>(L, 2, 0);
  if (n == 3 && lua_type(L, 3) == LUA_TSTRING) {
    lua_pushboolean(L, self->http.request(id, luabind::opt_string(L, 3)));
    return 1;
  }
  if (n == 3 && lua_type(L, 3) == LUA_TTABLE) {
    http_request r;
    if (!read_request(L, 3, r)) {
      lua_pushnil(L);
      return 1;
    }
    lua_pushboolean(L, self->http.send_request(id, r));
    return 1;
  }
  if (n > 3) {
    http_header_list headers;
    if (!read_headers(L, 4, headers)) {
      lua_pushnil(L);
      return 1;
    }
    lua_pushboolean(L, self->http.request(id, luabind::opt_string(L, 3), headers));
    return 1;
  }
  lua_pushnil(L);
  return 1;
}

int http_is_requesting(lua_State* L) {
  auto* self = luabind::check_object<lua_asyn_http>(L, kHttpClass);
  if (!self) return 0;
  lua_pushboolean(L, self->http.is_requesting());
  return 1;
}

int http_close(lua_State* L) {
  auto* self = luabind::check_object<lua_asyn_http>(L, kHttpClass);
  if (self) self->http.close();
  return 0;
}

int http_attach(lua_State* L) { return luabind::attach_event<lua_asyn_http>(L, kHttpClass); }
int http_detach(lua_State* L) { return luabind::detach_event<lua_asyn_http>(L, kHttpClass); }
int http_gc(lua_State* L) { return luabind::delete_object<lua_asyn_http>(L, kHttpClass); }

const QVLRT_METHOD kHttpMethods[] = {
    {"request", http_request_method, 0}, {"is_requesting", http_is_requesting, 0},
    {"close", http_close, 0},            {"attach_event", http_attach, 0},
    {"detach_event", http_detach, 0},    {"__gc", http_gc, 0},
    {nullptr, nullptr, 0},
};

// ---- "qv.win32.net.asyn_http_file" ----

int file_request(lua_State* L) {
  auto* self = luabind::check_object<lua_asyn_http_file>(L, kFileClass);
  if (!self) return 0;
  http_header_list headers;
  // No headers at all is an empty list; anything else must be a well-formed table.
  if (!lua_isnoneornil(L, 4) && !read_headers(L, 4, headers)) {
    lua_pushnil(L);
    return 1;
  }
  const std::wstring path = luabind::opt_wstring(L, 5);
  lua_pushboolean(L, self->file.request_file(luabind::opt_int<std::int32_t>(L, 2, 0),
                                             luabind::opt_string(L, 3), headers, path));
  return 1;
}

int file_is_requesting(lua_State* L) {
  auto* self = luabind::check_object<lua_asyn_http_file>(L, kFileClass);
  if (!self) return 0;
  lua_pushboolean(L, self->file.is_requesting());
  return 1;
}

int file_close(lua_State* L) {
  auto* self = luabind::check_object<lua_asyn_http_file>(L, kFileClass);
  if (self) self->file.close();
  return 0;
}

int file_attach(lua_State* L) { return luabind::attach_event<lua_asyn_http_file>(L, kFileClass); }
int file_detach(lua_State* L) { return luabind::detach_event<lua_asyn_http_file>(L, kFileClass); }
int file_gc(lua_State* L) { return luabind::delete_object<lua_asyn_http_file>(L, kFileClass); }

const QVLRT_METHOD kFileMethods[] = {
    {"request_file", file_request, 0}, {"is_requesting", file_is_requesting, 0},
    {"close", file_close, 0},          {"attach_event", file_attach, 0},
    {"detach_event", file_detach, 0},  {"__gc", file_gc, 0},
    {nullptr, nullptr, 0},
};

// ---- factories: stateless objects whose create_instance pushes a new instance ----

struct factory_object {};
factory_object g_http_factory;
factory_object g_file_factory;

void* http_factory(std::uintptr_t) { return &g_http_factory; }
void* file_factory(std::uintptr_t) { return &g_file_factory; }

int http_create_instance(lua_State* L) {
  if (!luabind::check_object<factory_object>(L, kHttpFactoryClass)) return 0;
  QVLRT_PushQVObject(L, kHttpClass, new lua_asyn_http);  // Lua owns it; __gc deletes it
  return 1;
}

int file_create_instance(lua_State* L) {
  if (!luabind::check_object<factory_object>(L, kFileFactoryClass)) return 0;
  QVLRT_PushQVObject(L, kFileClass, new lua_asyn_http_file);  // Lua owns it; __gc deletes it
  return 1;
}

const QVLRT_METHOD kHttpFactoryMethods[] = {{"create_instance", http_create_instance, 0},
                                            {nullptr, nullptr, 0}};
const QVLRT_METHOD kFileFactoryMethods[] = {{"create_instance", file_create_instance, 0},
                                            {nullptr, nullptr, 0}};

}  // namespace

void RegisterAsynHttp(QVLRT_ENV env) {
  luabind::RegisterClass(env, kHttpClass, kHttpMethods);
  luabind::RegisterGlobal(env, kHttpFactory, kHttpFactoryClass, kHttpFactoryMethods, http_factory);
}

void RegisterAsynHttpFile(QVLRT_ENV env) {
  luabind::RegisterClass(env, kFileClass, kFileMethods);
  luabind::RegisterGlobal(env, kFileFactory, kFileFactoryClass, kFileFactoryMethods, file_factory);
}

void RegisterNetAndFilesystemObjects(QVLRT_ENV env) {
  RegisterDirUtility(env);
  RegisterDiskUtility(env);
  RegisterFileUtility(env);
  RegisterPathUtility(env);
  RegisterAsynHttp(env);
  RegisterAsynHttpFile(env);
}

}  // namespace store
