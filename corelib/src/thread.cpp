#include "qv/thread.h"

#include "thread_os.h"

namespace qv::win32::multithread {

thread::thread() = default;

thread::~thread() { stop(); }

void thread::entry(void* self) {
  try {
    static_cast<thread*>(self)->run();
  } catch (...) {
    // A body that throws ends its thread, not the process.
  }
}

bool thread::start() {
  if (handle_) return true;
  stop_event_ = std::make_unique<event>(true, false);
  handle_ = os::create_suspended_thread(&thread::entry, this);
  if (!handle_) {
    stop_event_.reset();
    return false;
  }
  id_ = handle_->id();
  handle_->resume();
  return true;
}

bool thread::stop() {
  if (!handle_) return false;
  stop_event_->set();
  handle_->join();
  handle_.reset();
  id_ = 0;
  stop_event_.reset();
  return true;
}

bool thread::running() const { return handle_ && !handle_->wait(0); }

}  // namespace qv::win32::multithread
