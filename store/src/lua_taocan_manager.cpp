#include "store/lua_taocan_manager.h"

#include "luabind/args.h"

namespace store {
namespace {

constexpr const char* kClassName = CLuaTaocanManager::kClassName;

int push_bool(lua_State* L, bool b) {
  lua_pushboolean(L, b ? 1 : 0);
  return 1;
}

CLuaTaocanManager* self_of(lua_State* L) {
  return luabind::check_object<CLuaTaocanManager>(L, kClassName);
}

}  // namespace

namespace {

int IsTaocanExist(lua_State* L) {
  auto* self = self_of(L);
  if (self == nullptr) return 0;
  const std::string name = luabind::check_string(L, 2);
  return push_bool(L, self->bundles().is_taocan_exist(name));
}

int CreateTaocan(lua_State* L) {
  auto* self = self_of(L);
  if (self == nullptr) return 0;
  const std::string name = luabind::check_string(L, 2);
  return push_bool(L, self->bundles().create_taocan(name, luabind::opt_int<std::int32_t>(L, 3, 0)));
}

int AddToTaocan(lua_State* L) {
  auto* self = self_of(L);
  if (self == nullptr) return 0;
  const std::string name = luabind::check_string(L, 2);
  const std::string path = luabind::check_string(L, 3);
  return push_bool(L, self->bundles().add_to_taocan(name, path, luabind::opt_int<std::int32_t>(L, 4, 0),
                                                   luabind::opt_bool(L, 5, false)));
}

int GetTaocanInfo(lua_State* L) {
  auto* self = self_of(L);
  if (self == nullptr) return 0;
  const std::string name = luabind::check_string(L, 2);
  lua_createtable(L, 0, 0);
  int index = 1;
  for (const taocan_item_entry& e : self->bundles().get_taocan_info(name)) {
    lua_createtable(L, 0, 0);
    luabind::set_field(L, "mediaType", e.media_type);
    luabind::set_field(L, "filePath", e.file_path);
    luabind::set_bool(L, "select", e.select);
    luabind::set_field(L, "packName", e.pack_name);
    luabind::set_field(L, "label", e.label);
    luabind::set_field(L, "icon", e.icon);
    lua_rawseti(L, -2, index++);
  }
  return 1;
}

int ModifyTaocanInfo(lua_State* L) {
  auto* self = self_of(L);
  if (self == nullptr) return 0;
  const std::string name = luabind::check_string(L, 2);
  const std::string path = luabind::check_string(L, 3);
  return push_bool(L, self->bundles().modify_taocan_info(name, path,
                                                        luabind::opt_int<std::int32_t>(L, 4, 0),
                                                        luabind::opt_bool(L, 5, false)));
}

int DeleteTaocanItem(lua_State* L) {
  auto* self = self_of(L);
  if (self == nullptr) return 0;
  const std::string name = luabind::check_string(L, 2);
  const std::string path = luabind::check_string(L, 3);
  return push_bool(L, self->bundles().delete_taocan_item(name, path));
}

int DropTaocan(lua_State* L) {
  auto* self = self_of(L);
  if (self == nullptr) return 0;
  const std::string name = luabind::check_string(L, 2);
  return push_bool(L, self->bundles().drop_taocan(name));
}

int GetAllTaocan(lua_State* L) {
  auto* self = self_of(L);
  if (self == nullptr) return 0;
  lua_createtable(L, 0, 0);
  int index = 1;
  for (const taocan_entry& e : self->bundles().get_all_taocan()) {
    lua_createtable(L, 0, 0);
    luabind::set_field(L, "taocan", e.taocan);
    luabind::set_field(L, "type", e.type);
    lua_rawseti(L, -2, index++);
  }
  return 1;
}

int UpdateTaoAPKInfo(lua_State* L) {
  auto* self = self_of(L);
  if (self == nullptr) return 0;
  const std::string name = luabind::check_string(L, 2);
  const std::string path = luabind::check_string(L, 3);
  const std::string pack = luabind::check_string(L, 4);
  const std::string label = luabind::check_string(L, 5);
  const std::string icon = luabind::check_string(L, 6);
  return push_bool(L, self->bundles().update_tao_apk_info(name, path, pack,
                                                         label, icon));
}

}  // namespace

const QVLRT_METHOD* CLuaTaocanManager::methods() {
  static const QVLRT_METHOD table[] = {
      {"IsTaocanExist", IsTaocanExist, 0},
      {"CreateTaocan", CreateTaocan, 0},
      {"AddToTaocan", AddToTaocan, 0},
      {"GetTaocanInfo", GetTaocanInfo, 0},
      {"ModifyTaocanInfo", ModifyTaocanInfo, 0},
      {"DeleteTaocanItem", DeleteTaocanItem, 0},
      {"DropTaocan", DropTaocan, 0},
      {"GetAllTaocan", GetAllTaocan, 0},
      {"UpdateTaoAPKInfo", UpdateTaoAPKInfo, 0},
      {nullptr, nullptr, 0},
  };
  return table;
}

}  // namespace store
