#include "store/http_request.h"

#include <json/json.h>

#include <cstring>
#include <utility>

#include "hostbase/path_manager.h"
#include "hostbase/profile.h"
#include "luabind/args.h"
#include "qv/text.h"
#include "qv/url_encode.h"

namespace store {
namespace {

constexpr const char* kClassName = CLuaSubHttpRequest::kClassName;

const Json::Value* member(const Json::Value& object, const char* key) {
  if (!object.isObject()) return nullptr;
  return object.find(key, key + std::strlen(key));
}

// The kind rules: a string member read as an integer gives 0, a number read as a string gives "".
std::int32_t int_member(const Json::Value& o, const char* key, std::int32_t def = 0) {
  const Json::Value* v = member(o, key);
  if (!v) return def;
  if (v->isBool()) return v->asBool() ? 1 : 0;
  if (v->isNumeric()) return luabind::to_integer<std::int32_t>(v->asDouble());
  return 0;
}

std::uint32_t uint_member(const Json::Value& o, const char* key) {
  const Json::Value* v = member(o, key);
  if (!v) return 0;
  if (v->isBool()) return v->asBool() ? 1 : 0;
  if (v->isNumeric()) return luabind::to_integer<std::uint32_t>(v->asDouble());
  return 0;
}

std::string string_member(const Json::Value& o, const char* key) {
  const Json::Value* v = member(o, key);
  return v && v->isString() ? v->asString() : std::string();
}

enum kind { kInt, kUint, kString };
struct field {
  const char* json;
  const char* lua;
  kind k;
};

const field kType1[] = {{"Id", "Id", kInt}, {"Pid", "Pid", kInt}, {"Si_Name", "Name", kString}};
const field kType2[] = {{"Id", "Id", kInt},
                        {"S_Name", "Name", kString},
                        {"S_Pic", "Pic", kString},
                        {"S_DownNum", "DownNum", kUint},
                        {"S_FileSize", "FileSize", kString},
                        {"S_Version", "Version", kString},
                        {"S_FilePath", "DownPath", kString},
                        {"S_PageUrl", "PageUrl", kString}};
const field kType3[] = {{"Id", "Id", kInt},
                        {"S_SiId", "SiId", kInt},
                        {"S_Name", "Name", kString},
                        {"S_Pic", "Pic", kString},
                        {"S_DownNum", "DownNum", kUint},
                        {"S_FileSize", "FileSize", kUint},
                        {"S_Version", "Version", kString},
                        {"S_Language", "Language", kString},
                        {"S_FilePath", "DownPath", kString},
                        {"AddTime", "AddTime", kString},
                        {"S_BigPic", "BigPic", kString}};

template <std::size_t N>
void push_array(lua_State* L, const Json::Value& root, const field (&fields)[N]) {
  const Json::ArrayIndex n = root.size();
  lua_createtable(L, static_cast<int>(n), 0);
  for (Json::ArrayIndex i = 0; i < n; ++i) {
    const Json::Value& e = root[i];
    lua_createtable(L, 0, static_cast<int>(N));
    for (const field& f : fields) {
      switch (f.k) {
        case kInt: luabind::set_number(L, f.lua, int_member(e, f.json)); break;
        case kUint: luabind::set_number(L, f.lua, uint_member(e, f.json)); break;
        case kString: luabind::set_field(L, f.lua, string_member(e, f.json)); break;
      }
    }
    lua_rawseti(L, -2, static_cast<int>(i) + 1);
  }
}

bool shape_fits(std::int32_t type, const Json::Value& root) {
  if (type >= 1 && type <= 3) return root.isArray();
  if (type == 4) return root.isObject();
  return true;
}

bool istarts_with(const std::string& s, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  if (s.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// "http://host[:port]" with an optional trailing "/"; the text without that "/", or empty.
std::string valid_endpoint(std::string e) {
  if (!istarts_with(e, "http://")) return {};
  if (e.size() > 7 && e.back() == '/') e.pop_back();
  const std::string hostport = e.substr(7);
  if (hostport.empty()) return {};
  for (char c : hostport) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= ' ' || u >= 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\')
      return {};
  }
  const std::size_t colon = hostport.find(':');
  if (colon == 0) return {};
  if (colon != std::string::npos) {
    const std::string port = hostport.substr(colon + 1);
    if (port.empty() || port.size() > 5) return {};
    unsigned long value = 0;
    for (char c : port) {
      if (c < '0' || c > '9') return {};
      value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value == 0 || value > 65535) return {};
  }
  return e;
}

}  // namespace

std::string PercentDecode(const std::string& body) { return qv::text::percent_decode(body); }


bool ParseAnswer(const std::string& text, Json::Value& root) {
  if (text.size() > kMaxAnswerBytes) return false;
  Json::CharReaderBuilder builder;
  builder["stackLimit"] = kMaxJsonDepth;
  builder["collectComments"] = false;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  try {
    return reader->parse(text.data(), text.data() + text.size(), &root, &errors);
  } catch (const std::exception&) {
    // The reader throws when the nesting bound is passed.
    return false;
  }
}

bool PushAnswerTable(lua_State* L, std::int32_t type, const Json::Value& root,
                     const std::string& raw_body) {
  if (!shape_fits(type, root)) return false;
  switch (type) {
    case 1: push_array(L, root, kType1); break;
    case 2: push_array(L, root, kType2); break;
    case 3: push_array(L, root, kType3); break;
    case 4:
      lua_createtable(L, 0, 6);
      luabind::set_field(L, "DownloadUrl", string_member(root, "url"));
      luabind::set_number(L, "Update", int_member(root, "is"));
      luabind::set_number(L, "updateType", int_member(root, "updatetype", 1));
      luabind::set_field(L, "NewVer", string_member(root, "last"));
      luabind::set_field(L, "Content", string_member(root, "cont"));
      luabind::set_field(L, "Size", string_member(root, "size"));
      break;
    case 5:
      lua_createtable(L, 5, 1);
      for (int i = 1; i <= 5; ++i) {
        lua_createtable(L, 0, 3);
        luabind::set_field(L, "packName", kPlaceholderPackage);
        luabind::set_field(L, "down", "down");
        luabind::set_field(L, "ver", "ver");
        lua_rawseti(L, -2, i);
      }
      luabind::set_field(L, "request", raw_body);
      break;
    default:
      lua_newtable(L);
      break;
  }
  return true;
}

update_settings ReadUpdateSettings(const std::wstring& config_file) {
  update_settings s;
  s.endpoint = hostbase::ReadProfileString(L"basic", kUpdateEndpointKey, L"", config_file, 260);
  s.version = hostbase::ReadProfileString(L"basic", L"appver", L"1.0", config_file, 9);
  return s;
}

update_settings ReadInstalledUpdateSettings() {
  update_settings s;
  s.endpoint = hostbase::ReadProfileString(L"basic", kUpdateEndpointKey, L"",
                                           hostbase::GetModuleDir() + L"Profiles\\config.ini", 260);
  s.version = hostbase::ReadAppVersion();
  return s;
}

std::string UpdateUrl(const update_settings& settings) {
  std::string endpoint = valid_endpoint(qv::text::wide_to_utf8(settings.endpoint));
  if (endpoint.empty()) endpoint = kDefaultUpdateEndpoint;
  return endpoint + kUpdatePath + qv::text::url_encode(qv::text::wide_to_utf8(settings.version),
                                                    qv::text::url_keep::unreserved);
}

// ---- the object ----------------------------------------------------------------------------

CLuaSubHttpRequest::CLuaSubHttpRequest(settings_reader settings)
    : settings_(std::move(settings)), http_(this) {}

CLuaSubHttpRequest::~CLuaSubHttpRequest() { http_.close(); }

std::int32_t CLuaSubHttpRequest::Request(std::int32_t type, const std::string& url,
                                         std::unique_ptr<luabind::CLuaEvent> callback) {
  const std::int32_t id = ++counter_;
  task& t = requests_[id];
  t.type = type;
  t.url = url;
  t.callback = std::move(callback);
  start_next();
  return id;
}

std::int32_t CLuaSubHttpRequest::CheckUpdate(std::unique_ptr<luabind::CLuaEvent> callback) {
  const update_settings s = settings_ ? settings_() : update_settings{L"", L"1.0"};
  return Request(4, UpdateUrl(s), std::move(callback));
}

void CLuaSubHttpRequest::Cancel(std::int32_t id) {
  auto it = requests_.find(id);
  if (it == requests_.end()) return;
  const bool running = it->second.state == 2;
  requests_.erase(it);
  if (running) {
    http_.close();
    start_next();
  }
}

void CLuaSubHttpRequest::start_next() {
  if (starting_ || http_.is_requesting()) return;
  starting_ = true;
  for (;;) {
    auto it = requests_.begin();
    while (it != requests_.end() && it->second.state != 1) ++it;
    if (it == requests_.end()) break;
    http_.close();  // every request on a fresh connection
    it->second.state = 2;
    const std::int32_t id = it->first;
    const bool ok = http_.request(id, it->second.url);
    if (ok && http_.is_requesting()) break;
    // Refused (a URL the client cannot fetch) or failed at once: it must not hold up the rest.
    requests_.erase(id);
  }
  starting_ = false;
}

void CLuaSubHttpRequest::drop(std::int32_t id) {
  requests_.erase(id);
  start_next();
}

void CLuaSubHttpRequest::on_data(std::int32_t request_id, const qv::win32::net::http_response&,
                                 const char*, std::uint32_t length, std::uint64_t offset, bool&) {
  if (offset + length > kMaxAnswerBytes) {
    http_.close();
    drop(request_id);
  }
}

void CLuaSubHttpRequest::on_response(std::int32_t request_id,
                                     const qv::win32::net::http_response& response) {
  auto it = requests_.find(request_id);
  if (it == requests_.end()) {
    start_next();
    return;
  }
  // Forgotten before the callback runs: a Cancle from inside it cannot reach a later request.
  task t = std::move(it->second);
  requests_.erase(it);
  Json::Value root;
  if (t.callback && !t.callback->empty() && ParseAnswer(PercentDecode(response.body), root) &&
      shape_fits(t.type, root)) {
    const std::string raw = response.body;
    t.callback->Fire([&](lua_State* L) {
      PushAnswerTable(L, t.type, root, raw);
      return 1;
    });
  }
  t.callback.reset();
  start_next();
}

void CLuaSubHttpRequest::on_error(std::int32_t request_id, std::int32_t) { drop(request_id); }

// ---- Lua -----------------------------------------------------------------------------------

namespace {
std::unique_ptr<luabind::CLuaEvent> callback_at(lua_State* L, int index) {
  auto cb = std::make_unique<luabind::CLuaEvent>();
  cb->Hold(L, index);  // anything but a function leaves it empty: the request runs unheard
  return cb;
}

int LuaHttpRequest(lua_State* L) {
  auto* self = luabind::check_object<CLuaSubHttpRequest>(L, kClassName);
  const auto type = luabind::check_int(L, 2);
  const std::string url = luabind::check_string(L, 3);
  if (!self) return 0;
  lua_pushnumber(L, self->Request(type, url, callback_at(L, 4)));
  return 1;
}

int LuaCheckUpdate(lua_State* L) {
  auto* self = luabind::check_object<CLuaSubHttpRequest>(L, kClassName);
  if (!self) return 0;
  lua_pushnumber(L, self->CheckUpdate(callback_at(L, 2)));
  return 1;
}

int LuaCancle(lua_State* L) {
  auto* self = luabind::check_object<CLuaSubHttpRequest>(L, kClassName);
  const auto id = luabind::check_int(L, 2);
  if (self) self->Cancel(id);
  return 0;
}

}  // namespace

const QVLRT_METHOD* CLuaSubHttpRequest::methods() {
  static const QVLRT_METHOD kMethods[] = {
      {"HttpRequest", LuaHttpRequest, 0},
      {"CheckUpdate", LuaCheckUpdate, 0},
      {"Cancle", LuaCancle, 0},
      {nullptr, nullptr, 0},
  };
  return kMethods;
}

}  // namespace store
