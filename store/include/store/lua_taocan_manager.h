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

  taocan_manager& bundles() { return bundles_; }

 private:
  taocan_manager bundles_;
};

}  // namespace store
