// Per-thread set-up of the pool's worker (thread_pool_os_posix.cpp, thread_pool_os_win32.cpp).
#pragma once

namespace hostbase::os {

// COM for the lifetime of the object on the calling thread (Windows); nothing elsewhere.
class com_apartment {
 public:
  com_apartment();
  ~com_apartment();
  com_apartment(const com_apartment&) = delete;
  com_apartment& operator=(const com_apartment&) = delete;

 private:
  [[maybe_unused]] bool initialised_ = false;  // used by the Windows layer only
};

}  // namespace hostbase::os
