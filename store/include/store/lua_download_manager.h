// The Lua global object "DownloadManger.Manager": the download queue as the user interface
// drives it. UI thread only.
#pragma once

#include <cstdint>
#include <memory>

#include "luabind/lua_event.h"
#include "store/download_queue.h"
#include "qv_engine.h"

class CSqliteManager;

namespace store {

// Posts work back to this object on the UI thread, after the current event has unwound
// (the message window's 0x401 message); the work arrives through OnMessage.
class work_poster {
 public:
  virtual ~work_poster() = default;
  virtual void post_work(std::intptr_t work_type) = 0;
};

class CLuaDownloadManager {
 public:
  static constexpr const char* kObjectName = "DownloadManger.Manager";
  static constexpr const char* kClassName = "DownloadManger.Manager.Class";
  static constexpr std::intptr_t kWorkInitTasks = 1;
  static constexpr std::intptr_t kWorkStartNext = 2;

  CLuaDownloadManager(CSqliteManager& db, work_poster& poster,
                      const download_queue::downloader_factory& make_downloader);
  ~CLuaDownloadManager();
  CLuaDownloadManager(const CLuaDownloadManager&) = delete;
  CLuaDownloadManager& operator=(const CLuaDownloadManager&) = delete;

  // The posted work: 1 hands the stored tasks to the Init callback, 2 starts the next task.
  void OnMessage(std::intptr_t work_type);

  download_queue& queue() { return queue_; }
  // The Lua methods in table order.
  static const QVLRT_METHOD* methods();

  // The first call only: keeps the Lua function at `index` (when it is one) and posts the
  // delivery of the stored tasks to it. False when Init was called before.
  bool start_init(lua_State* L, int index);

 private:
  void deliver_stored_tasks();

  CSqliteManager& db_;
  work_poster& poster_;
  bool init_called_ = false;
  std::unique_ptr<luabind::CLuaEvent> init_callback_;
  download_queue queue_;
};

}  // namespace store
