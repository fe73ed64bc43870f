#include "store/url_locate.h"

#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <list>
#include <system_error>
#include <thread>
#include <utility>

#include "luabind/args.h"
#include "qv/singleton_ex.h"
#include "qv/text.h"
#include "network_os.h"

namespace store {

using qv::win32::multithread::event;

namespace {

// The threads of requests. One left behind by an abort ends at curl's next progress call,
// within about a second; on POSIX the program waits that long for them when it ends, so that
// none is cut off inside the TLS library (whose per-thread state would be lost with it).
class request_threads {
 public:
  template <class Body>
  void start(Body body) {
    std::lock_guard<std::mutex> g(lock_);
    reap_locked();
    auto it = threads_.emplace(threads_.end());
    try {
      it->worker = std::thread([this, it, body = std::move(body)]() mutable {
        body();
        {
          std::lock_guard<std::mutex> g(lock_);
          it->ended = true;
        }
        changed_.notify_all();
      });
    } catch (...) {
      threads_.erase(it);
      throw;
    }
  }
  // At the program's end.
  void finish() {
    std::unique_lock<std::mutex> lk(lock_);
    changed_.wait_for(lk, std::chrono::seconds(5), [&] {
      for (const auto& t : threads_)
        if (!t.ended) return false;
      return true;
    });
    reap_locked();
    for (auto& t : threads_) t.worker.detach();  // still held by the network: let it be
  }

 private:
  struct entry {
    std::thread worker;
    bool ended = false;
  };
  void reap_locked() {
    for (auto it = threads_.begin(); it != threads_.end();) {
      if (!it->ended) {
        ++it;
        continue;
      }
      it->worker.join();  // it has set its mark; this waits only for its thread's own end
      it = threads_.erase(it);
    }
  }
  std::mutex lock_;
  std::condition_variable changed_;
  std::list<entry> threads_;
};

// Never destroyed: a thread still held by the network at the end may touch it afterwards.
request_threads& in_flight() {
  static request_threads* const threads = [] {
    auto* t = new request_threads;
    os::wait_at_exit([] { in_flight().finish(); });
    return t;
  }();
  return *threads;
}

}  // namespace

struct CLuaAsyncGetURLLocate::abort_state {
  std::mutex lock;
  std::condition_variable changed;
  unsigned aborts = 0;
};

CLuaAsyncGetURLLocate::CLuaAsyncGetURLLocate(hostbase::CMessageWindow* window, url_opener opener)
    : window_(window),
      opener_(opener ? std::move(opener) : url_opener(&os::open_final_url)),
      aborts_(std::make_shared<abort_state>()) {}

CLuaAsyncGetURLLocate::~CLuaAsyncGetURLLocate() {
  UnInit();
  std::lock_guard<std::mutex> guard(lock_);
  tasks_.clear();
}

void CLuaAsyncGetURLLocate::Init() {
  if (initialised_) return;
  initialised_ = true;
  wake_ = std::make_unique<event>(false);
  exited_ = std::make_unique<event>(true);
  start();
}

void CLuaAsyncGetURLLocate::UnInit() {
  if (!wake_) return;
  {
    // The worker may be inside a resolve: abandon it and let the body return by itself.
    std::lock_guard<std::mutex> guard(lock_);
    quitting_ = true;
    abort_locked();
  }
  wake_->set();
  exited_->wait();
  stop();
  wake_.reset();
}

void CLuaAsyncGetURLLocate::abort_locked() {
  {
    std::lock_guard<std::mutex> g(aborts_->lock);
    ++aborts_->aborts;
  }
  aborts_->changed.notify_all();
}

std::wstring CLuaAsyncGetURLLocate::resolve(const std::wstring& url, unsigned mark) {
  struct attempt {
    std::atomic<bool> abandoned{false};
    bool done = false;
    std::wstring result;
  };
  auto a = std::make_shared<attempt>();
  const std::shared_ptr<abort_state> shared = aborts_;
  // The TLS library cleans up at the end in an exit handler of its own: it must be set up before
  // ours is, so that ours (waiting for the requests) runs first.
  os::prepare_url_opening();
  request_threads& threads = in_flight();
  std::unique_lock<std::mutex> lk(shared->lock);
  if (shared->aborts != mark) return {};
  try {
    threads.start([shared, a, opener = opener_, url] {
      std::wstring result = opener(url, a->abandoned);
      {
        std::lock_guard<std::mutex> g(shared->lock);
        a->result = std::move(result);
        a->done = true;
      }
      shared->changed.notify_all();
    });
  } catch (const std::system_error&) {
    return {};
  }
  // The network may not let go of a request (a silent server, a stuck name lookup): an abort
  // leaves it behind instead of waiting for it.
  shared->changed.wait(lk, [&] { return a->done || shared->aborts != mark; });
  if (!a->done) {
    a->abandoned = true;
    return {};
  }
  return std::move(a->result);
}

std::int32_t CLuaAsyncGetURLLocate::AddCommand(const std::wstring& url,
                                               std::unique_ptr<luabind::CLuaEvent> callback) {
  std::int32_t id;
  {
    std::lock_guard<std::mutex> guard(lock_);
    id = ++counter_;
    task& t = tasks_[id];
    t.url = url;
    t.callback = std::move(callback);
  }
  if (wake_) wake_->set();
  return id;
}

void CLuaAsyncGetURLLocate::CancleTask(std::int32_t id) {
  task gone;  // its callback is released after the lock
  std::lock_guard<std::mutex> guard(lock_);
  auto it = tasks_.find(id);
  if (it == tasks_.end()) return;
  gone = std::move(it->second);
  tasks_.erase(it);
}

void CLuaAsyncGetURLLocate::CancleAllTask() {
  std::map<std::int32_t, task> gone;
  {
    std::lock_guard<std::mutex> guard(lock_);
    bool in_progress = false;
    for (const auto& kv : tasks_) in_progress = in_progress || kv.second.state == 1;
    if (in_progress) abort_locked();
    gone.swap(tasks_);
  }
  // The callbacks are released here, on the UI thread, outside the lock.
}

bool CLuaAsyncGetURLLocate::post(std::int32_t id) {
  hostbase::CMessageWindow* w =
      window_ ? window_ : qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance();
  return w && w->PostHandlerMessage(this, static_cast<qv::loop::lparam_t>(id));
}

void CLuaAsyncGetURLLocate::run() {
  struct signal_exit {
    event& e;
    ~signal_exit() { e.set(); }
  } on_exit{*exited_};
  for (;;) {
    if (quitting_ || stop_event().is_set()) return;
    std::int32_t id = 0;
    std::wstring url;
    unsigned mark = 0;
    {
      std::lock_guard<std::mutex> guard(lock_);
      for (auto& kv : tasks_) {
        if (kv.second.state == 0) {
          kv.second.state = 1;
          id = kv.first;
          url = kv.second.url;
          break;
        }
      }
      // Read with the task taken, under the lock every abort takes: an abort that finds the
      // task in progress is seen by its resolve.
      std::lock_guard<std::mutex> g(aborts_->lock);
      mark = aborts_->aborts;
    }
    if (id != 0) {
      std::wstring result = resolve(url, mark);
      std::lock_guard<std::mutex> guard(lock_);
      // UnInit (which sets this under the lock) abandoned this resolve: nobody waits for the
      // answer, and a message posted now could outlive this object.
      if (quitting_) return;
      auto it = tasks_.find(id);
      if (it != tasks_.end()) {
        it->second.result = std::move(result);
        it->second.state = 2;
        // Without a window the result cannot cross; the task then waits for a cancel.
        post(id);
      }
      continue;
    }
    event::wait_any({wake_.get(), &stop_event()});
  }
}

void CLuaAsyncGetURLLocate::OnMessage(qv::loop::lparam_t payload) {
  const auto id = static_cast<std::int32_t>(payload);
  task t;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = tasks_.find(id);
    if (it == tasks_.end() || it->second.state != 2) return;  // cancelled after it was posted
    t = std::move(it->second);
    tasks_.erase(it);
  }
  if (t.callback) {
    const std::string result = qv::text::wide_to_utf8(t.result);
    t.callback->Fire([&](lua_State* L) {
      lua_pushnumber(L, id);
      luabind::push_string(L, result);
      return 2;
    });
  }
}

bool CLuaAsyncGetURLLocate::result_posted(std::int32_t id) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = tasks_.find(id);
  return it != tasks_.end() && it->second.state == 2;
}

std::size_t CLuaAsyncGetURLLocate::task_count() {
  std::lock_guard<std::mutex> guard(lock_);
  return tasks_.size();
}

// ---- Lua -----------------------------------------------------------------------------------

namespace {

constexpr const char* kClassName = CLuaAsyncGetURLLocate::kClassName;

int LuaInit(lua_State* L) {
  if (auto* self = luabind::check_object<CLuaAsyncGetURLLocate>(L, kClassName)) self->Init();
  return 0;
}

int LuaUnInit(lua_State* L) {
  if (auto* self = luabind::check_object<CLuaAsyncGetURLLocate>(L, kClassName)) self->UnInit();
  return 0;
}

int LuaAddCommand(lua_State* L) {
  auto* self = luabind::check_object<CLuaAsyncGetURLLocate>(L, kClassName);
  const std::wstring url = luabind::check_wstring(L, 2);
  if (!self) return 0;
  auto cb = std::make_unique<luabind::CLuaEvent>();
  cb->Hold(L, 3);
  lua_pushnumber(L, self->AddCommand(url, std::move(cb)));
  return 1;
}

int LuaCancleTask(lua_State* L) {
  auto* self = luabind::check_object<CLuaAsyncGetURLLocate>(L, kClassName);
  const auto id = luabind::check_int(L, 2);
  if (self) self->CancleTask(id);
  return 0;
}

int LuaCancleAllTask(lua_State* L) {
  if (auto* self = luabind::check_object<CLuaAsyncGetURLLocate>(L, kClassName))
    self->CancleAllTask();
  return 0;
}

}  // namespace

const QVLRT_METHOD* CLuaAsyncGetURLLocate::methods() {
  static const QVLRT_METHOD kMethods[] = {
      {"Init", LuaInit, 0},
      {"UnInit", LuaUnInit, 0},
      {"AddCommand", LuaAddCommand, 0},
      {"CancleTask", LuaCancleTask, 0},
      {"CancleAllTask", LuaCancleAllTask, 0},
      {nullptr, nullptr, 0},
  };
  return kMethods;
}

}  // namespace store
