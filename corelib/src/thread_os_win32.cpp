// Threads on Windows: created suspended, resumed, and waited for when stopped.
#include "thread_os.h"

#include <windows.h>

namespace qv::win32::multithread::os {
namespace {

struct start_args {
  void (*entry)(void*);
  void* arg;
};

DWORD WINAPI trampoline(void* p) {
  auto* a = static_cast<start_args*>(p);
  a->entry(a->arg);
  return 0;
}

class win32_thread final : public thread_os {
 public:
  bool create(void (*entry)(void*), void* arg) {
    args_ = {entry, arg};
    handle_ = CreateThread(nullptr, 0, trampoline, &args_, CREATE_SUSPENDED, &id_);
    return handle_ != nullptr;
  }

  ~win32_thread() override {
    if (handle_) CloseHandle(handle_);
  }

  unsigned long id() const override { return id_; }
  void resume() override { ResumeThread(handle_); }
  bool wait(unsigned ms) override { return WaitForSingleObject(handle_, ms) == WAIT_OBJECT_0; }
  void join() override { WaitForSingleObject(handle_, INFINITE); }

 private:
  start_args args_{};  // lives as long as the thread handle is held
  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
};

}  // namespace

std::unique_ptr<thread_os> create_suspended_thread(void (*entry)(void*), void* arg) {
  auto t = std::make_unique<win32_thread>();
  if (!t->create(entry, arg)) return nullptr;
  return t;
}

}  // namespace qv::win32::multithread::os
