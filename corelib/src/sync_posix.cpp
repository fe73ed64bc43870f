// mutex, critical_section and event on POSIX.
#include "qv/critical_section.h"
#include "qv/event.h"
#include "qv/mutex.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace qv::win32::multithread {

struct mutex::impl {
  std::recursive_mutex m;
};
mutex::mutex() : impl_(std::make_unique<impl>()) {}
mutex::~mutex() = default;
void mutex::lock() { impl_->m.lock(); }
void mutex::unlock() { impl_->m.unlock(); }

struct critical_section::impl {
  std::recursive_mutex m;
};
critical_section::critical_section() : impl_(std::make_unique<impl>()) {}
critical_section::~critical_section() = default;
void critical_section::enter() { impl_->m.lock(); }
void critical_section::leave() { impl_->m.unlock(); }

// All events share one lock and one condition, so that a wait can cover several of them.
namespace {
struct event_hub {
  std::mutex m;
  std::condition_variable cv;
};
event_hub& hub() {
  static event_hub h;
  return h;
}
}  // namespace

struct event::impl {
  bool manual;
  bool state;
};

event::event(bool manual_reset, bool initially_set)
    : impl_(std::make_unique<impl>(impl{manual_reset, initially_set})) {}
event::~event() = default;

void event::set() {
  std::lock_guard<std::mutex> lock(hub().m);
  impl_->state = true;
  hub().cv.notify_all();
}

void event::reset() {
  std::lock_guard<std::mutex> lock(hub().m);
  impl_->state = false;
}

bool event::is_set() const {
  std::lock_guard<std::mutex> lock(hub().m);
  return impl_->state;
}

void* event::native_handle() const { return nullptr; }

bool event::wait(unsigned ms) { return wait_any({this}, ms) == 0; }

int event::wait_any(std::initializer_list<event*> events, unsigned ms) {
  std::unique_lock<std::mutex> lock(hub().m);
  auto take = [&]() -> int {
    int i = 0;
    for (event* e : events) {
      if (e && e->impl_->state) {
        if (!e->impl_->manual) e->impl_->state = false;
        return i;
      }
      ++i;
    }
    return -1;
  };
  int got = take();
  if (got >= 0 || ms == 0) return got;
  if (ms == kInfinite) {
    while ((got = take()) < 0) hub().cv.wait(lock);
    return got;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while ((got = take()) < 0) {
    if (hub().cv.wait_until(lock, deadline) == std::cv_status::timeout) return take();
  }
  return got;
}

}  // namespace qv::win32::multithread
