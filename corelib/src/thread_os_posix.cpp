// Threads on POSIX: created held back until resumed, and joined when stopped.
#include "thread_os.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace qv::win32::multithread::os {
namespace {

class posix_thread final : public thread_os {
 public:
  posix_thread(void (*entry)(void*), void* arg) {
    auto s = state_;
    thread_ = std::thread([s, entry, arg] {
      {
        std::unique_lock<std::mutex> lock(s->m);
        s->cv.wait(lock, [&] { return s->resumed; });
      }
      entry(arg);
      std::lock_guard<std::mutex> lock(s->m);
      s->done = true;
      s->cv.notify_all();
    });
    id_ = static_cast<unsigned long>(std::hash<std::thread::id>{}(thread_.get_id()));
  }

  ~posix_thread() override {
    resume();  // a never-resumed thread still has to be let go to be joined
    if (thread_.joinable()) thread_.join();
  }

  unsigned long id() const override { return id_; }

  void resume() override {
    std::lock_guard<std::mutex> lock(state_->m);
    state_->resumed = true;
    state_->cv.notify_all();
  }

  bool wait(unsigned ms) override {
    std::unique_lock<std::mutex> lock(state_->m);
    return state_->cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return state_->done; });
  }

  void join() override {
    if (thread_.joinable()) thread_.join();
  }

 private:
  struct shared {
    std::mutex m;
    std::condition_variable cv;
    bool resumed = false;
    bool done = false;
  };
  std::shared_ptr<shared> state_ = std::make_shared<shared>();
  std::thread thread_;
  unsigned long id_ = 0;
};

}  // namespace

std::unique_ptr<thread_os> create_suspended_thread(void (*entry)(void*), void* arg) {
  try {
    return std::make_unique<posix_thread>(entry, arg);
  } catch (const std::system_error&) {
    return nullptr;
  }
}

}  // namespace qv::win32::multithread::os
