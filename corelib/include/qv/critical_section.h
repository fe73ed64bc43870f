// A critical section: a lightweight recursive lock for one process. Usable with std::lock_guard.
#pragma once

#include <memory>

namespace qv::win32::multithread {

class critical_section {
 public:
  critical_section();
  ~critical_section();
  critical_section(const critical_section&) = delete;
  critical_section& operator=(const critical_section&) = delete;

  void enter();
  void leave();
  void lock() { enter(); }
  void unlock() { leave(); }

 private:
  struct impl;
  std::unique_ptr<impl> impl_;
};

}  // namespace qv::win32::multithread
