// "AsyncGetURLLocate.Manager": resolves URLs to the address their redirects end at, on a worker
// thread, and hands each result to the task's Lua function on the UI thread (through the
// message window). The worker never touches Lua.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "hostbase/message_window.h"
#include "luabind/lua_event.h"
#include "qv/event.h"
#include "qv/thread.h"
#include "qv_engine.h"

namespace store {

// Opens a URL and follows its redirects: the final URL, or empty when it cannot be opened. Runs
// on a thread of its own and may block; once `abandoned` is set nobody waits for the answer.
using url_opener = std::function<std::wstring(const std::wstring& url, const std::atomic<bool>& abandoned)>;

class CLuaAsyncGetURLLocate : private qv::win32::multithread::thread,
                              public hostbase::MessageHandler {
 public:
  static constexpr const char* kObjectName = "AsyncGetURLLocate.Manager";
  static constexpr const char* kClassName = "AsyncGetURLLocate.Manager.Class";

  // Results go through `window`, or the process's message window when it is null. URLs are
  // opened by `opener`, or by the system's network library when it is empty.
  explicit CLuaAsyncGetURLLocate(hostbase::CMessageWindow* window = nullptr, url_opener opener = {});
  ~CLuaAsyncGetURLLocate() override;

  // The first call starts the worker; later calls do nothing.
  void Init();
  // Stops the worker. A resolve in progress is abandoned, not waited for: the worker is gone
  // when this returns, whatever the network does.
  void UnInit();
  std::int32_t AddCommand(const std::wstring& url, std::unique_ptr<luabind::CLuaEvent> callback);
  void CancleTask(std::int32_t id);
  // Aborts the task in progress and forgets every task; later tasks get a fresh session.
  void CancleAllTask();

  // The UI thread's side of a posted result.
  void OnMessage(qv::loop::lparam_t payload) override;

  // Whether the task's result has been posted and not yet delivered.
  bool result_posted(std::int32_t id);
  std::size_t task_count();

  static const QVLRT_METHOD* methods();

 private:
  struct task {
    int state = 0;  // 0 waiting, 1 in progress, 2 result posted
    std::wstring url;
    std::wstring result;
    std::unique_ptr<luabind::CLuaEvent> callback;
  };

  // Shared with the threads that open URLs, which may outlive this object.
  struct abort_state;

  void run() override;
  bool post(std::int32_t id);
  // Under lock_: ends the resolve in progress; a task taken from now on sees a new mark.
  void abort_locked();
  // The final URL, opened on a thread of its own; empty once an abort has come since `mark`.
  std::wstring resolve(const std::wstring& url, unsigned mark);

  hostbase::CMessageWindow* window_;
  url_opener opener_;
  std::shared_ptr<abort_state> aborts_;
  std::unique_ptr<qv::win32::multithread::event> wake_;
  // Set by the worker when its body returns. UnInit waits for it before the thread's own stop,
  // whose short wait would otherwise end the thread forcibly; the worker never waits on the
  // network once aborted, so this is a short wait.
  std::unique_ptr<qv::win32::multithread::event> exited_;
  std::atomic<bool> quitting_{false};
  bool initialised_ = false;
  std::mutex lock_;
  std::int32_t counter_ = 0;
  std::map<std::int32_t, task> tasks_;
};

}  // namespace store
