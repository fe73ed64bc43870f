// A full disk for the tests, as a small file-size limit for this process: writes past it fail
// with EFBIG instead of raising SIGXFSZ. The limit is lifted by lift() or when the guard goes.
#pragma once

#include <signal.h>
#include <sys/resource.h>

namespace tiv_test_disk {

class file_size_limit {
 public:
  explicit file_size_limit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit r = old_;
    r.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &r) == 0;
    if (!ok_) ::signal(SIGXFSZ, old_handler_);
  }
  ~file_size_limit() { lift(); }
  file_size_limit(const file_size_limit&) = delete;
  file_size_limit& operator=(const file_size_limit&) = delete;

  void lift() {
    if (!ok_) return;
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, old_handler_);
    ok_ = false;
  }
  bool ok() const { return ok_; }

 private:
  rlimit old_{};
  void (*old_handler_)(int) = nullptr;
  bool ok_ = false;
};

}  // namespace tiv_test_disk
