#include "store/lua_objects.h"

#include <memory>

#include "luabind/registration.h"
#include "store/http_downloader.h"
#include "store/lua_download_manager.h"
#include "store/lua_taocan_manager.h"
#include "store/sqlite_manager.h"

namespace store {
namespace {

struct objects {
  host_services services;
  bool db_opened = false;
  std::unique_ptr<CLuaDownloadManager> download;
  std::unique_ptr<CLuaTaocanManager> taocan;
  bool released = false;
};

objects& state() {
  static objects o;
  return o;
}

// The database, opened when an object first needs it: a package that never uses the store
// does not pay for it at start-up. A file that cannot be opened leaves the store closed, and
// its operations then fail quietly, as before.
CSqliteManager* database() {
  objects& o = state();
  if (o.services.db && !o.db_opened && !o.services.db_path.empty()) {
    o.db_opened = true;
    o.services.db->open(o.services.db_path);
  }
  return o.services.db;
}

// Factories: the same object on every call; nothing without a database, or after release.
void* download_factory(std::uintptr_t) {
  objects& o = state();
  if (!o.download && !o.released && o.services.poster) {
    if (CSqliteManager* db = database())
      o.download = std::make_unique<CLuaDownloadManager>(*db, *o.services.poster,
                                                         &make_http_downloader);
  }
  return o.download.get();
}

void* taocan_factory(std::uintptr_t) {
  objects& o = state();
  if (!o.taocan && !o.released) {
    if (CSqliteManager* db = database()) o.taocan = std::make_unique<CLuaTaocanManager>(*db);
  }
  return o.taocan.get();
}

}  // namespace

void set_host_services(const host_services& services) {
  state().services = services;
  state().db_opened = false;
  state().released = false;
}

void release_lua_objects() {
  objects& o = state();
  o.released = true;
  o.download.reset();
  o.taocan.reset();
  o.services = {};
}

void deliver_download_work(std::intptr_t work_type) {
  if (state().download) state().download->OnMessage(work_type);
}

void RegisterDownloadManager(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, CLuaDownloadManager::kObjectName, CLuaDownloadManager::kClassName,
                          CLuaDownloadManager::methods(), &download_factory);
}

void RegisterAppTaocanManager(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, CLuaTaocanManager::kObjectName, CLuaTaocanManager::kClassName,
                          CLuaTaocanManager::methods(), &taocan_factory);
}

}  // namespace store
