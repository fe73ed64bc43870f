// The store's Lua global objects as the host creates them: "DownloadManger.Manager" and
// "AppTaocanManager.Manager". Start-up hands over the database and the way back to the UI thread
// before the engine registers the objects; each object is made when Lua first reads its name,
// and the database file is opened then, when the first of them is made.
#pragma once

#include <cstdint>
#include <string>

#include "qv_engine.h"

class CSqliteManager;

namespace store {

class work_poster;
class CLuaDownloadManager;

struct host_services {
  CSqliteManager* db = nullptr;
  // The file `db` opens on first use; empty: `db` is used as it is (tests open it themselves).
  std::u16string db_path;
  work_poster* poster = nullptr;  // delivers to deliver_download_work()
};

// Set by start-up; the objects are made from these on first use.
void set_host_services(const host_services& services);
// Destroys the objects (the download manager closes its download and releases its Lua
// functions) while the database and the Lua state still exist; later reads give nothing.
void release_lua_objects();

// The posted work of the download manager, delivered on the UI thread; dropped when the object
// was never made or is gone.
void deliver_download_work(std::intptr_t work_type);

void RegisterDownloadManager(QVLRT_ENV env);
void RegisterAppTaocanManager(QVLRT_ENV env);

}  // namespace store
