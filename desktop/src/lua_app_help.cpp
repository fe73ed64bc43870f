// "AppHelp.Object": the application services object. Its methods take the object as argument 1
// (checked against "AppHelp.Class"); files, XML and JSON that fail end an operation quietly with
// the results each method states.
#include "desktop/app_help.h"

#include "apphelp_os.h"
#include "desktop/app_update.h"
#include "desktop/archive.h"
#include "desktop/command_switches.h"
#include "desktop/contacts.h"
#include "desktop/install_dir.h"
#include "desktop/text_tools.h"
#include "file_util.h"
#include "shell_os.h"

#include "hostbase/message_window.h"
#include "hostbase/path_manager.h"
#include "luabind/args.h"
#include "luabind/lua_event.h"
#include "luabind/registration.h"
#include "qv/codepage.h"
#include "qv/share_memory.h"
#include "qv/singleton_ex.h"
#include "qv/text.h"

#include <json/json.h>

#include <cmath>
#include <memory>

namespace desktop {
namespace {

using luabind::CLuaEvent;
using luabind::CLuaEventContainer;
using qv::design_pattern::singleton_ex;

constexpr char kClassName[] = "AppHelp.Class";
constexpr char kObjectName[] = "AppHelp.Object";
constexpr std::size_t kMaxCsvSize = 64u << 20;
// Nesting beyond this in LuaTableToJson is cut off (a table may hold itself).
constexpr int kMaxJsonDepth = 64;

std::u16string u16(const std::wstring& w) { return qv::text::wide_to_utf16(w); }
std::u16string u16(const std::string& utf8) { return qv::text::utf8_to_utf16(utf8.data(), utf8.size()); }
std::string u8(const std::u16string& s) { return qv::text::utf16_to_utf8(s); }

// The string at `index` (a number converted on a copy); empty for any other value.
std::u16string string_at(lua_State* L, int index) {
  return luabind::is_string(L, index) ? u16(luabind::check_string(L, index)) : std::u16string();
}

void push_u16(lua_State* L, const std::u16string& s) { luabind::push_string(L, u8(s)); }

void push_contacts(lua_State* L, const std::vector<Contact>& contacts) {
  lua_createtable(L, static_cast<int>(contacts.size()), 0);
  int i = 0;
  for (const Contact& c : contacts) {
    lua_createtable(L, 0, 2);
    luabind::set_field(L, "name", u8(c.name));
    luabind::set_field(L, "number", u8(c.number));
    lua_rawseti(L, -2, ++i);
  }
}

hostbase::CPathManager& paths() {
  if (auto* p = singleton_ex<hostbase::CPathManager>::instance()) return *p;
  static hostbase::CPathManager fallback;  // only when start-up made none (tests)
  return fallback;
}

class CLuaAppeHelp : public hostbase::TimerListener {
 public:
  CLuaAppeHelp()
      : destinations_(u16(paths().GetProfileDir()) + u"androidPacket.dat") {
    if (auto* mw = singleton_ex<hostbase::CMessageWindow>::instance()) {
      window_ = mw;
      timer_ = mw->SetObjectTimer(this);
    }
  }
  ~CLuaAppeHelp() override {
    if (window_ && singleton_ex<hostbase::CMessageWindow>::instance() == window_)
      window_->RemoveTimer(timer_);
  }
  CLuaAppeHelp(const CLuaAppeHelp&) = delete;
  CLuaAppeHelp& operator=(const CLuaAppeHelp&) = delete;

  // Once a second: the command lines later starts left in the single-instance block. The block's
  // mutex is held only while they are taken out; the listeners run after it is released, so a
  // starting program never waits on the Lua code.
  void OnTimer(std::uintptr_t) override {
    if (reading_) return;
    reading_ = true;
    std::vector<std::u16string> lines;
    {
      qv::win32::multiprocess::share_memory block;
      if (block.open(kInstanceBlockName, true)) lines = TakeForwardedCommandLines(block);
    }
    for (const auto& line : lines) {
      const SwitchMap switches = ParseSwitches(line);
      luabind::FireLuaEvent(command_, [&](lua_State* L) {
        lua_createtable(L, 0, static_cast<int>(switches.size()));
        for (const auto& [name, value] : switches) luabind::set_field(L, u8(name).c_str(), u8(value));
        return 1;
      });
    }
    reading_ = false;
  }

  const SwitchMap& StartSwitches() {
    if (start_type_ == 0) {
      start_switches_ = ParseSwitches(qv::text::wide_to_utf16(hostbase::GetProgramCommandLine()));
      start_type_ = StartTypeOf(start_switches_);
    }
    return start_switches_;
  }
  std::uint8_t start_type() const { return start_type_; }

  CLuaEventContainer pre_exit_, exit_, command_;
  PackageDestinations destinations_;

 private:
  hostbase::CMessageWindow* window_ = nullptr;
  std::uint32_t timer_ = 0;
  bool reading_ = false;
  SwitchMap start_switches_;
  std::uint8_t start_type_ = 0;
};

struct Holder {
  std::unique_ptr<CLuaAppeHelp> object;
  bool released = false;
};
Holder& holder() {
  static Holder h;
  return h;
}

CLuaAppeHelp* self(lua_State* L) { return luabind::check_object<CLuaAppeHelp>(L, kClassName); }

// ---- methods -----------------------------------------------------------------------------------

int SetAppIcon(lua_State* L) {
  if (!self(L)) return 0;
  if (lua_type(L, 2) == LUA_TLIGHTUSERDATA)
    os::set_app_icon(lua_touserdata(L, 2), luabind::opt_int(L, 3, 0));
  return 0;
}

int AttachExistEvent(lua_State* L) {
  auto* o = self(L);
  return o ? luabind::AttachLuaListener(L, 2, o->exit_) : 0;
}
int DetachExistEvent(lua_State* L) {
  auto* o = self(L);
  return o ? luabind::DetachLuaListener(L, 2, o->exit_) : 0;
}
int AttachPreExistEvent(lua_State* L) {
  auto* o = self(L);
  return o ? luabind::AttachLuaListener(L, 2, o->pre_exit_) : 0;
}
int DetachPreExistEvent(lua_State* L) {
  auto* o = self(L);
  return o ? luabind::DetachLuaListener(L, 2, o->pre_exit_) : 0;
}
int AttachCommandEvent(lua_State* L) {
  auto* o = self(L);
  return o ? luabind::AttachLuaListener(L, 2, o->command_) : 0;
}

int UpdateAPP(lua_State* L) {
  if (!self(L)) return 0;
  const std::u16string archive = u16(luabind::check_string(L, 2));
  InstallUpdate(archive, u16(paths().GetTempDir()), u16(paths().GetExeDir()));
  return 0;
}

int GetStartCommand(lua_State* L) {
  auto* o = self(L);
  if (!o) return 0;
  const SwitchMap& switches = o->StartSwitches();
  lua_createtable(L, 0, static_cast<int>(switches.size()) + 1);
  for (const auto& [name, value] : switches) luabind::set_field(L, u8(name).c_str(), u8(value));
  luabind::set_number(L, "type", o->start_type());
  return 1;
}

// Every pre-exit listener is asked (with the reason); one answer of false keeps the program
// running and no exit listener is called.
int ExistApp(lua_State* L) {
  auto* o = self(L);
  if (!o) return 0;
  const std::string reason = luabind::opt_string(L, 2);
  bool veto = false;
  luabind::IEventEnum<CLuaEvent>* e = nullptr;
  o->pre_exit_.Clone(&e);
  CLuaEvent* listener = nullptr;
  while (e->Next(&listener) == 0) {
    if (listener->empty()) continue;
    lua_State* LL = listener->state();
    const int top = lua_gettop(LL);
    lua_rawgeti(LL, LUA_REGISTRYINDEX, listener->ref());
    luabind::push_string(LL, reason);
    QVLRT_LuaCall(LL, 1, 2, "CLuaEvent::Call");
    if (lua_isboolean(LL, top + 1) && !lua_toboolean(LL, top + 1)) veto = true;
    lua_settop(LL, top);
  }
  if (veto) return 0;
  luabind::FireLuaEvent(o->exit_, [](lua_State*) { return 0; });
  return 0;
}

int URLDecodeMethod(lua_State* L) {
  if (!self(L)) return 0;
  luabind::push_string(L, URLDecode(luabind::check_string(L, 2)));
  return 1;
}

int GetExeDir(lua_State* L) {
  if (!self(L)) return 0;
  luabind::push_wstring(L, paths().GetExeDir());
  return 1;
}

int Ignored(lua_State* L) {
  self(L);
  return 0;
}

int GetBytesNum(lua_State* L) {
  if (!self(L)) return 0;
  lua_pushnumber(L, static_cast<lua_Number>(Cp936ByteCount(luabind::check_string(L, 2))));
  return 1;
}

int ConvertChineseMethod(lua_State* L) {
  if (!self(L)) return 0;
  luabind::push_string(L, ConvertChinese(luabind::check_string(L, 2)));
  return 1;
}

int CreateEmptyFile(lua_State* L) {
  if (!self(L)) return 0;
  os::create_empty_file(u16(luabind::check_string(L, 2)));
  return 0;
}

int GetProfileDir(lua_State* L) {
  if (!self(L)) return 0;
  luabind::push_wstring(L, paths().GetProfileDir());
  return 1;
}

int GetTempDir(lua_State* L) {
  if (!self(L)) return 0;
  luabind::push_wstring(L, paths().GetTempDir());
  return 1;
}

int RestoreContactFromCVS(lua_State* L) {
  if (!self(L)) return 0;
  auto bytes = ReadWholeFile(u16(luabind::check_string(L, 2)), kMaxCsvSize);
  if (!bytes) return 0;
  auto contacts = ParseContactCsv(*bytes);
  if (!contacts) return 0;
  push_contacts(L, *contacts);
  return 1;
}

// The strings of the array at `index` (1..n); other values give empty fields.
std::vector<std::u16string> string_array(lua_State* L, int index) {
  std::vector<std::u16string> out;
  if (!lua_istable(L, index)) return out;
  const int n = static_cast<int>(lua_objlen(L, index));
  for (int i = 1; i <= n; ++i) {
    lua_rawgeti(L, index, i);
    out.push_back(string_at(L, -1));
    lua_pop(L, 1);
  }
  return out;
}

int BackupContactToCVS(lua_State* L) {
  if (!self(L)) return 0;
  const std::u16string path = u16(luabind::check_string(L, 2));
  luabind::check_table(L, 3);
  luabind::check_table(L, 4);
  const auto header = string_array(L, 3);
  std::vector<std::vector<std::u16string>> rows;
  const int n = static_cast<int>(lua_objlen(L, 4));
  for (int i = 1; i <= n; ++i) {
    lua_rawgeti(L, 4, i);
    rows.push_back(string_array(L, lua_gettop(L)));
    lua_pop(L, 1);
  }
  os::write_file_atomic(path, FormatContactCsv(header, rows));
  return 0;
}

int BackupContact(lua_State* L) {
  if (!self(L)) return 0;
  const std::u16string title = u16(luabind::check_string(L, 2));
  luabind::check_table(L, 3);
  std::vector<Contact> contacts;
  const int n = static_cast<int>(lua_objlen(L, 3));
  for (int i = 1; i <= n; ++i) {
    lua_rawgeti(L, 3, i);
    if (lua_istable(L, -1)) {
      lua_getfield(L, -1, "name");
      lua_getfield(L, -2, "number");
      contacts.push_back({string_at(L, -2), string_at(L, -1)});
      lua_pop(L, 2);
    }
    lua_pop(L, 1);
  }
  std::tm local{};
  // True once the backup and the index holding it are saved; false when nothing was saved.
  const bool saved = os::local_time(local) &&
                     SaveContactBackup(u16(paths().GetProfileDir()), title, contacts, local, os::tick_count());
  lua_pushboolean(L, saved);
  return 1;
}

int GetContactBackupList(lua_State* L) {
  if (!self(L)) return 0;
  auto list = ReadContactBackupList(u16(paths().GetProfileDir()));
  if (!list) return 0;
  lua_createtable(L, static_cast<int>(list->size()), 0);
  int i = 0;
  for (const auto& entry : *list) {
    lua_createtable(L, 0, 2);
    luabind::set_field(L, "title", u8(entry.title));
    luabind::set_field(L, "rdate", u8(entry.date));
    lua_rawseti(L, -2, ++i);
  }
  return 1;
}

int RestoreContact(lua_State* L) {
  if (!self(L)) return 0;
  auto contacts =
      RestoreContactBackup(u16(paths().GetProfileDir()), u16(luabind::check_string(L, 2)));
  if (!contacts) return 0;
  push_contacts(L, *contacts);
  return 1;
}

Json::Value table_to_json(lua_State* L, int index, int depth);

// A table's elements 1..n, each a JSON object.
Json::Value array_to_json(lua_State* L, int index, int depth) {
  Json::Value out(Json::arrayValue);
  if (!lua_checkstack(L, 4)) return out;
  const int n = static_cast<int>(lua_objlen(L, index));
  for (int i = 1; i <= n; ++i) {
    lua_rawgeti(L, index, i);
    if (lua_istable(L, -1)) out.append(table_to_json(L, lua_gettop(L), depth + 1));
    lua_pop(L, 1);
  }
  return out;
}

Json::Value table_to_json(lua_State* L, int index, int depth) {
  Json::Value out(Json::objectValue);
  // Each level holds a key, a value and a copy of the key on the Lua stack.
  if (depth > kMaxJsonDepth || !lua_checkstack(L, 4)) return out;
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {
    // The key as a string, converted on a copy so that lua_next still finds its place.
    lua_pushvalue(L, -2);
    const char* key_text = lua_tostring(L, -1);
    const std::string key = key_text ? std::string(key_text, lua_objlen(L, -1)) : std::string();
    lua_pop(L, 1);
    const int value = lua_gettop(L);
    if (key_text) {
      switch (lua_type(L, value)) {
        case LUA_TBOOLEAN:
          out[key] = lua_toboolean(L, value) != 0;
          break;
        case LUA_TNUMBER: {
          const lua_Number n = lua_tonumber(L, value);
          const auto i = luabind::to_integer<std::int64_t>(n);
          if (static_cast<lua_Number>(i) == n)
            out[key] = Json::Int64(i);
          else if (std::isfinite(n))
            out[key] = n;
          break;  // NaN and infinities have no JSON form
        }
        case LUA_TSTRING:
          out[key] = luabind::check_string(L, value);
          break;
        case LUA_TTABLE:
          out[key] = depth < kMaxJsonDepth ? array_to_json(L, value, depth) : Json::Value(Json::arrayValue);
          break;
        default:
          break;
      }
    }
    lua_pop(L, 1);
  }
  return out;
}

int LuaTableToJson(lua_State* L) {
  if (!self(L)) return 0;
  luabind::check_table(L, 2);
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "   ";
  luabind::push_string(L, Json::writeString(builder, table_to_json(L, 2, 0)));
  return 1;
}

std::string json_string(const Json::Value& v) {
  if (v.isString()) return v.asString();
  if (v.isNumeric() || v.isBool()) return v.asString();
  return std::string();
}
lua_Number json_integer(const Json::Value& v) {
  if (v.isBool()) return v.asBool() ? 1 : 0;
  if (!v.isNumeric()) return 0;
  return static_cast<lua_Number>(luabind::to_integer<std::int64_t>(v.asDouble()));
}

int ParseDownParam(lua_State* L) {
  if (!self(L)) return 0;
  const std::string text = luabind::check_string(L, 2);
  lua_newtable(L);
  Json::CharReaderBuilder builder;
  builder["stackLimit"] = kMaxJsonDepth;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  bool parsed = false;
  try {
    parsed = reader->parse(text.data(), text.data() + text.size(), &root, &errors);
  } catch (const std::exception&) {
    // The reader throws past its nesting bound: such text does not parse.
  }
  if (!parsed || !root.isObject()) return 1;
  luabind::set_field(L, "src", json_string(root["src"]));
  luabind::set_field(L, "title", json_string(root["title"]));
  luabind::set_field(L, "gid", json_string(root["gid"]));
  luabind::set_number(L, "size", json_integer(root["size"]));
  const lua_Number type = json_integer(root["type"]);
  luabind::set_number(L, "type", type);
  if (type == 1) {
    luabind::set_field(L, "picurl", json_string(root["picurl"]));
    luabind::set_field(L, "ver", json_string(root["ver"]));
  }
  return 1;
}

int UnZipOneFile(lua_State* L) {
  if (!self(L)) return 0;
  const std::u16string archive = u16(luabind::check_string(L, 2));
  const std::u16string entry = u16(luabind::check_string(L, 3));
  const std::u16string destination = u16(luabind::check_string(L, 4));
  lua_pushboolean(L, ExtractOne(archive, entry, destination));
  return 1;
}

int GetInstallDir(lua_State* L) {
  auto* o = self(L);
  if (!o) return 0;
  const std::u16string kind = u16(luabind::check_string(L, 2));
  const std::u16string dir = u16(luabind::check_string(L, 3));
  const InstallTarget t = GetInstallTarget(kind, dir, o->destinations_);
  push_u16(L, t.local);
  push_u16(L, t.device);
  return 2;
}

int ReloadInstallDat(lua_State* L) {
  auto* o = self(L);
  if (o) o->destinations_.Reset();
  return 0;
}

const QVLRT_METHOD kMethods[] = {
    {"SetAppIcon", SetAppIcon, 0},
    {"AttachExistEvent", AttachExistEvent, 0},
    {"DetachExistEvent", DetachExistEvent, 0},
    {"AttachPreExistEvent", AttachPreExistEvent, 0},
    {"DetachPreExistEvent", DetachPreExistEvent, 0},
    {"AttachCommandEvent", AttachCommandEvent, 0},
    {"UpdateAPP", UpdateAPP, 0},
    {"GetStartCommand", GetStartCommand, 0},
    {"ExistApp", ExistApp, 0},
    {"URLDecode", URLDecodeMethod, 0},
    {"GetExeDir", GetExeDir, 0},
    {"HasCharact", Ignored, 0},
    {"GetBytesNum", GetBytesNum, 0},
    {"ConvertChinese", ConvertChineseMethod, 0},
    {"CreateEmptyFile", CreateEmptyFile, 0},
    {"GetProfileDir", GetProfileDir, 0},
    {"GetTempDir", GetTempDir, 0},
    {"PrintLog", Ignored, 0},
    {"RestoreContactFromCVS", RestoreContactFromCVS, 0},
    {"BackupContactToCVS", BackupContactToCVS, 0},
    {"BackupContact", BackupContact, 0},
    {"GetContactBackupList", GetContactBackupList, 0},
    {"RestoreContact", RestoreContact, 0},
    {"LuaTableToJson", LuaTableToJson, 0},
    {"ParseDownParam", ParseDownParam, 0},
    {"UnZipOneFile", UnZipOneFile, 0},
    {"GetInstallDir", GetInstallDir, 0},
    {"ReloadInstallDat", ReloadInstallDat, 0},
    {nullptr, nullptr, 0},
};

void* Factory(std::uintptr_t) {
  Holder& h = holder();
  if (!h.object && !h.released) h.object = std::make_unique<CLuaAppeHelp>();
  return h.object.get();
}

}  // namespace

void RegisterAppHelp(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, kObjectName, kClassName, kMethods, Factory);
}

void ReleaseAppHelp() {
  Holder& h = holder();
  h.released = true;
  h.object.reset();
}

}  // namespace desktop
