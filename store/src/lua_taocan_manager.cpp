#include "store/lua_taocan_manager.h"

#include "lua_support.h"

namespace store {
namespace {

constexpr const char* kClassName = CLuaTaocanManager::kClassName;

int push_bool(lua_State* L, bool b) {
  lua_pushboolean(L, b ? 1 : 0);
  return 1;
}

}  // namespace

const QVLRT_METHOD* CLuaTaocanManager::methods() {
  static const QVLRT_METHOD table[] = {
      {"IsTaocanExist", &IsTaocanExist, 0},
      {"CreateTaocan", &CreateTaocan, 0},
      {"AddToTaocan", &AddToTaocan, 0},
      {"GetTaocanInfo", &GetTaocanInfo, 0},
      {"ModifyTaocanInfo", &ModifyTaocanInfo, 0},
      {"DeleteTaocanItem", &DeleteTaocanItem, 0},
      {"DropTaocan", &DropTaocan, 0},
      {"GetAllTaocan", &GetAllTaocan, 0},
      {"UpdateTaoAPKInfo", &UpdateTaoAPKInfo, 0},
      {nullptr, nullptr, 0},
  };
  return table;
}

int CLuaTaocanManager::IsTaocanExist(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaTaocanManager>(L, kClassName);
  if (self == nullptr) return 0;
  const lua::string_arg name = lua::check_string(L, 2);
  return push_bool(L, self->bundles_.is_taocan_exist(name.str()));
}

int CLuaTaocanManager::CreateTaocan(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaTaocanManager>(L, kClassName);
  if (self == nullptr) return 0;
  const lua::string_arg name = lua::check_string(L, 2);
  return push_bool(L, self->bundles_.create_taocan(name.str(), lua::to_int32(L, 3)));
}

int CLuaTaocanManager::AddToTaocan(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaTaocanManager>(L, kClassName);
  if (self == nullptr) return 0;
  const lua::string_arg name = lua::check_string(L, 2);
  const lua::string_arg path = lua::check_string(L, 3);
  return push_bool(L, self->bundles_.add_to_taocan(name.str(), path.str(), lua::to_int32(L, 4),
                                                   lua_toboolean(L, 5) != 0));
}

int CLuaTaocanManager::GetTaocanInfo(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaTaocanManager>(L, kClassName);
  if (self == nullptr) return 0;
  const lua::string_arg name = lua::check_string(L, 2);
  lua_createtable(L, 0, 0);
  int index = 1;
  for (const taocan_item_entry& e : self->bundles_.get_taocan_info(name.str())) {
    lua_createtable(L, 0, 0);
    lua::set_field(L, "mediaType", e.media_type);
    lua::set_field(L, "filePath", e.file_path);
    lua::set_bool(L, "select", e.select);
    lua::set_field(L, "packName", e.pack_name);
    lua::set_field(L, "label", e.label);
    lua::set_field(L, "icon", e.icon);
    lua_rawseti(L, -2, index++);
  }
  return 1;
}

int CLuaTaocanManager::ModifyTaocanInfo(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaTaocanManager>(L, kClassName);
  if (self == nullptr) return 0;
  const lua::string_arg name = lua::check_string(L, 2);
  const lua::string_arg path = lua::check_string(L, 3);
  return push_bool(L, self->bundles_.modify_taocan_info(name.str(), path.str(),
                                                        lua::to_int32(L, 4),
                                                        lua_toboolean(L, 5) != 0));
}

int CLuaTaocanManager::DeleteTaocanItem(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaTaocanManager>(L, kClassName);
  if (self == nullptr) return 0;
  const lua::string_arg name = lua::check_string(L, 2);
  const lua::string_arg path = lua::check_string(L, 3);
  return push_bool(L, self->bundles_.delete_taocan_item(name.str(), path.str()));
}

int CLuaTaocanManager::DropTaocan(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaTaocanManager>(L, kClassName);
  if (self == nullptr) return 0;
  const lua::string_arg name = lua::check_string(L, 2);
  return push_bool(L, self->bundles_.drop_taocan(name.str()));
}

int CLuaTaocanManager::GetAllTaocan(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaTaocanManager>(L, kClassName);
  if (self == nullptr) return 0;
  lua_createtable(L, 0, 0);
  int index = 1;
  for (const taocan_entry& e : self->bundles_.get_all_taocan()) {
    lua_createtable(L, 0, 0);
    lua::set_field(L, "taocan", e.taocan);
    lua::set_field(L, "type", e.type);
    lua_rawseti(L, -2, index++);
  }
  return 1;
}

int CLuaTaocanManager::UpdateTaoAPKInfo(lua_State* L) {
  auto* self = luabind::CheckObject<CLuaTaocanManager>(L, kClassName);
  if (self == nullptr) return 0;
  const lua::string_arg name = lua::check_string(L, 2);
  const lua::string_arg path = lua::check_string(L, 3);
  const lua::string_arg pack = lua::check_string(L, 4);
  const lua::string_arg label = lua::check_string(L, 5);
  const lua::string_arg icon = lua::check_string(L, 6);
  return push_bool(L, self->bundles_.update_tao_apk_info(name.str(), path.str(), pack.str(),
                                                         label.str(), icon.str()));
}

}  // namespace store
