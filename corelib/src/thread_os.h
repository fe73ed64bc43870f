// The operating-system half of qv::win32::multithread::thread.
#pragma once

#include <memory>

namespace qv::win32::multithread::os {

class thread_os {
 public:
  virtual ~thread_os() = default;
  virtual unsigned long id() const = 0;
  virtual void resume() = 0;
  // True when the thread has ended within ms.
  virtual bool wait(unsigned ms) = 0;
  // Waits until the thread has ended.
  virtual void join() = 0;
};

// Creates a thread that calls entry(arg) once it is resumed. Null on failure.
std::unique_ptr<thread_os> create_suspended_thread(void (*entry)(void*), void* arg);

}  // namespace qv::win32::multithread::os
