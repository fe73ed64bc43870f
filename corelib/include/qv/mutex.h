// A process-local kernel mutex: unnamed, created unowned, recursive for its owner like a Windows
// mutex. Usable with std::lock_guard.
#pragma once

#include <memory>

namespace qv::win32::multithread {

class mutex {
 public:
  mutex();
  ~mutex();
  mutex(const mutex&) = delete;
  mutex& operator=(const mutex&) = delete;

  void lock();  // waits without limit
  void unlock();

 private:
  struct impl;
  std::unique_ptr<impl> impl_;
};

}  // namespace qv::win32::multithread
