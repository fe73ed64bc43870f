// The Lua global object "AppTaocanManager.Manager": the app bundles as the user interface sees
// them. Stateless: every method converts its arguments, runs one store operation and answers.
#pragma once

#include "qv_engine.h"
#include "store/taocan_manager.h"

namespace store {

class CLuaTaocanManager {
 public:
  static constexpr const char* kObjectName = "AppTaocanManager.Manager";
  static constexpr const char* kClassName = "AppTaocanManager.Class";

  explicit CLuaTaocanManager(CSqliteManager& db) : bundles_(db) {}
  // The Lua methods in table order.
  static const QVLRT_METHOD* methods();

 private:
  static int IsTaocanExist(lua_State* L);
  static int CreateTaocan(lua_State* L);
  static int AddToTaocan(lua_State* L);
  static int GetTaocanInfo(lua_State* L);
  static int ModifyTaocanInfo(lua_State* L);
  static int DeleteTaocanItem(lua_State* L);
  static int DropTaocan(lua_State* L);
  static int GetAllTaocan(lua_State* L);
  static int UpdateTaoAPKInfo(lua_State* L);

  taocan_manager bundles_;
};

}  // namespace store
