// The message loop on Boost.Asio. Windows are entries in a table keyed by a handle number that
// is never reused, so a message posted to a destroyed window finds nothing and is dropped.
#include "qv/message_loop.h"
#include "qv/message_loop_posix.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

namespace qv::loop {
namespace {

struct timer_entry {
  std::unique_ptr<boost::asio::steady_timer> timer;
  unsigned period_ms = 0;
  std::uint64_t generation = 0;  // distinguishes a restarted timer from its predecessor
};

struct window_entry {
  window_proc proc = nullptr;
  void* user = nullptr;
  std::map<std::uintptr_t, timer_entry> timers;
};

struct loop_state {
  boost::asio::io_context io;
  std::mutex mutex;  // guards windows for post_message from other threads
  std::map<std::uintptr_t, std::shared_ptr<window_entry>> windows;
  std::uintptr_t next_handle = 0x10;
  std::uint64_t next_generation = 1;
  int exit_code = 0;
  bool quit = false;
};

loop_state& state() {
  static loop_state s;
  return s;
}

std::uintptr_t key(window_handle w) { return reinterpret_cast<std::uintptr_t>(w); }

std::shared_ptr<window_entry> find(window_handle w) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.windows.find(key(w));
  return it == s.windows.end() ? nullptr : it->second;
}

void dispatch(window_handle w, unsigned msg, wparam_t wp, lparam_t lp) {
  auto entry = find(w);
  if (entry && entry->proc) entry->proc(entry->user, w, msg, wp, lp);
}

void arm(window_handle w, std::uintptr_t id, std::uint64_t generation) {
  auto entry = find(w);
  if (!entry) return;
  auto it = entry->timers.find(id);
  if (it == entry->timers.end() || it->second.generation != generation) return;
  it->second.timer->expires_after(std::chrono::milliseconds(it->second.period_ms));
  it->second.timer->async_wait([w, id, generation](const boost::system::error_code& ec) {
    if (ec) return;
    auto e = find(w);
    if (!e) return;
    auto t = e->timers.find(id);
    if (t == e->timers.end() || t->second.generation != generation) return;
    // Re-arm before the call so that the procedure may kill or restart the timer.
    arm(w, id, generation);
    dispatch(w, kWmTimer, id, 0);
  });
}

}  // namespace

window_handle create_window(const window_spec&, window_proc proc, void* user) {
  if (!proc) return nullptr;
  auto& s = state();
  auto entry = std::make_shared<window_entry>();
  entry->proc = proc;
  entry->user = user;
  std::lock_guard<std::mutex> lock(s.mutex);
  std::uintptr_t h = s.next_handle++;
  s.windows.emplace(h, std::move(entry));
  return reinterpret_cast<window_handle>(h);
}

bool destroy_window(window_handle w) {
  auto& s = state();
  std::shared_ptr<window_entry> entry;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.windows.find(key(w));
    if (it == s.windows.end()) return false;
    entry = std::move(it->second);
    s.windows.erase(it);
  }
  for (auto& t : entry->timers) t.second.timer->cancel();
  entry->timers.clear();
  return true;
}

bool is_window(window_handle w) { return find(w) != nullptr; }

bool post_message(window_handle w, unsigned msg, wparam_t wp, lparam_t lp) {
  if (!find(w)) return false;
  boost::asio::post(state().io, [w, msg, wp, lp] { dispatch(w, msg, wp, lp); });
  return true;
}

lresult_t send_message(window_handle w, unsigned msg, wparam_t wp, lparam_t lp) {
  auto entry = find(w);
  if (!entry || !entry->proc) return 0;
  return entry->proc(entry->user, w, msg, wp, lp);
}

lresult_t default_window_proc(window_handle, unsigned msg, wparam_t, lparam_t) {
  return msg == kWmQueryEndSession ? 1 : 0;
}

bool set_timer(window_handle w, std::uintptr_t id, unsigned period_ms) {
  auto entry = find(w);
  if (!entry) return false;
  auto& s = state();
  auto& t = entry->timers[id];
  if (t.timer) t.timer->cancel();
  t.timer = std::make_unique<boost::asio::steady_timer>(s.io);
  t.period_ms = period_ms == 0 ? 1 : period_ms;
  t.generation = s.next_generation++;
  arm(w, id, t.generation);
  return true;
}

bool kill_timer(window_handle w, std::uintptr_t id) {
  auto entry = find(w);
  if (!entry) return false;
  auto it = entry->timers.find(id);
  if (it == entry->timers.end()) return false;
  it->second.timer->cancel();
  entry->timers.erase(it);
  return true;
}

void post_quit(int exit_code) {
  auto& s = state();
  boost::asio::post(s.io, [exit_code] {
    auto& st = state();
    st.exit_code = exit_code;
    st.quit = true;
    st.io.stop();
  });
}

int run() {
  auto& s = state();
  s.quit = false;
  s.io.restart();
  auto guard = boost::asio::make_work_guard(s.io);
  while (!s.quit) {
    s.io.run();
    if (!s.quit) s.io.restart();
  }
  return s.exit_code;
}

namespace posix {

boost::asio::io_context& context() { return state().io; }

struct fd_watch::impl {
  explicit impl(int fd) : fd(fd), desc(state().io, fd) {}
  int fd;
  boost::asio::posix::stream_descriptor desc;
  bool alive = true;
};

fd_watch::fd_watch(int fd) : impl_(std::make_shared<impl>(fd)) {}

fd_watch::~fd_watch() {
  impl_->alive = false;
  boost::system::error_code ec;
  impl_->desc.cancel(ec);
  impl_->desc.release();  // the descriptor belongs to the caller
}

void fd_watch::wait_readable(std::function<void(bool)> cb) {
  std::weak_ptr<impl> weak = impl_;
  impl_->desc.async_wait(boost::asio::posix::stream_descriptor::wait_read,
                         [weak, cb = std::move(cb)](const boost::system::error_code& ec) {
                           auto p = weak.lock();
                           if (!p || !p->alive) return;
                           cb(!ec);
                         });
}

void fd_watch::wait_writable(std::function<void(bool)> cb) {
  std::weak_ptr<impl> weak = impl_;
  impl_->desc.async_wait(boost::asio::posix::stream_descriptor::wait_write,
                         [weak, cb = std::move(cb)](const boost::system::error_code& ec) {
                           auto p = weak.lock();
                           if (!p || !p->alive) return;
                           cb(!ec);
                         });
}

void fd_watch::cancel() {
  boost::system::error_code ec;
  impl_->desc.cancel(ec);
}

int fd_watch::fd() const { return impl_->fd; }

}  // namespace posix
}  // namespace qv::loop
