// The Lua global object "DownloadManger.Manager": the download queue as the user interface
// drives it. UI thread only.
#pragma once

#include <cstdint>
#include <memory>

#include "store/download_queue.h"
#include "store/lua_surface.h"

class CSqliteManager;

namespace store {

namespace lua {
class function_ref;
}

// Posts work back to this object on the UI thread, after the current event has unwound
// (the message window's 0x401 message); the work arrives through OnMessage.
class work_poster {
 public:
  virtual ~work_poster() = default;
  virtual void post_work(std::intptr_t work_type) = 0;
};

class CLuaDownloadManager {
 public:
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
  static const lua_surface& surface();

 private:
  static int Init(lua_State* L);
  static int DownLoadFile(lua_State* L);
  static int CancleTask(lua_State* L);
  static int StopTask(lua_State* L);
  static int RestartTask(lua_State* L);
  static int AddDatebaseTask(lua_State* L);
  static int UpdateDatebaseTask(lua_State* L);
  static int GetNextTaskID(lua_State* L);

  void deliver_stored_tasks();

  CSqliteManager& db_;
  work_poster& poster_;
  std::unique_ptr<lua::function_ref> init_callback_;
  download_queue queue_;
};

}  // namespace store
