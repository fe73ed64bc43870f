#include "store/data_report.h"

#include <cmath>
#include <cstdio>

#include "luabind/args.h"
#include "luabind/number_text.h"
#include "store/mac_reader.h"

namespace store {
namespace {

// Strings as they are, numbers as their text; false for anything else.
bool text_at(lua_State* L, int index, std::string& out) {
  switch (lua_type(L, index)) {
    case LUA_TSTRING: {
      std::size_t n = 0;
      const char* s = lua_tolstring(L, index, &n);
      out.assign(s, n);
      return true;
    }
    case LUA_TNUMBER:
      out = luabind::number_text(lua_tonumber(L, index), luabind::number_style::as_lua);
      return true;
    default:
      return false;
  }
}

}  // namespace

CLuaDataReport::CLuaDataReport() : http_(this) {
  CMACReaderEx reader;
  machine_id_ = MachineIdentifier(reader);
}

CLuaDataReport::CLuaDataReport(CMACReaderEx& reader)
    : http_(this), machine_id_(MachineIdentifier(reader)) {}

CLuaDataReport::~CLuaDataReport() { http_.close(); }

void CLuaDataReport::Collect(std::string key, std::string value) {
  if (pairs_.size() >= kMaxPairs) return;
  pairs_.emplace_back(std::move(key), std::move(value));
}

void CLuaDataReport::send_next() {
  if (http_.is_requesting()) return;
  http_.close();
  while (!pending_.empty()) {
    const std::string url = pending_.front();
    pending_.pop_front();
    if (http_.request(++sent_count_, url)) return;
  }
}

void CLuaDataReport::on_response(std::int32_t, const qv::win32::net::http_response&) {
  send_next();
}

void CLuaDataReport::on_error(std::int32_t, std::int32_t) { send_next(); }

namespace {

constexpr const char* kClassName = CLuaDataReport::kClassName;

int LuaReport(lua_State* L) {
  auto* self = luabind::check_object<CLuaDataReport>(L, kClassName);
  luabind::check_table(L, 2);
  if (!self) return 0;
  lua_pushnil(L);
  while (lua_next(L, 2) != 0) {
    std::string key, value;
    // lua_next needs the key untouched: numbers are read without converting them in place.
    if (text_at(L, -2, key) && text_at(L, -1, value)) self->Collect(std::move(key), std::move(value));
    lua_pop(L, 1);
  }
  return 0;
}

}  // namespace

const QVLRT_METHOD* CLuaDataReport::methods() {
  static const QVLRT_METHOD kMethods[] = {
      {"Report", LuaReport, 0},
      {nullptr, nullptr, 0},
  };
  return kMethods;
}

}  // namespace store
