// mutex, critical_section and event on Windows kernel objects.
#include "qv/critical_section.h"
#include "qv/event.h"
#include "qv/mutex.h"

#include <windows.h>

#include <vector>

namespace qv::win32::multithread {

struct mutex::impl {
  HANDLE h = CreateMutexW(nullptr, FALSE, nullptr);
  impl() = default;
  impl(const impl&) = delete;
  impl& operator=(const impl&) = delete;
  ~impl() {
    if (h) CloseHandle(h);
  }
};
mutex::mutex() : impl_(std::make_unique<impl>()) {}
mutex::~mutex() = default;
void mutex::lock() { WaitForSingleObject(impl_->h, INFINITE); }
void mutex::unlock() { ReleaseMutex(impl_->h); }

struct critical_section::impl {
  CRITICAL_SECTION cs;
  impl() { InitializeCriticalSection(&cs); }
  ~impl() { DeleteCriticalSection(&cs); }
};
critical_section::critical_section() : impl_(std::make_unique<impl>()) {}
critical_section::~critical_section() = default;
void critical_section::enter() { EnterCriticalSection(&impl_->cs); }
void critical_section::leave() { LeaveCriticalSection(&impl_->cs); }

struct event::impl {
  HANDLE h;
  bool manual;
  impl(bool manual_reset, bool initially_set)
      : h(CreateEventW(nullptr, manual_reset, initially_set, nullptr)), manual(manual_reset) {}
  impl(const impl&) = delete;
  impl& operator=(const impl&) = delete;
  ~impl() {
    if (h) CloseHandle(h);
  }
};

event::event(bool manual_reset, bool initially_set)
    : impl_(std::make_unique<impl>(manual_reset, initially_set)) {}
event::~event() = default;
void event::set() { SetEvent(impl_->h); }
void event::reset() { ResetEvent(impl_->h); }
bool event::is_set() const {
  // Looking consumes an auto-reset event, so it is set again afterwards.
  if (WaitForSingleObject(impl_->h, 0) != WAIT_OBJECT_0) return false;
  if (!impl_->manual) SetEvent(impl_->h);
  return true;
}
void* event::native_handle() const { return impl_->h; }
bool event::wait(unsigned ms) {
  return WaitForSingleObject(impl_->h, ms == kInfinite ? INFINITE : ms) == WAIT_OBJECT_0;
}

int event::wait_any(std::initializer_list<event*> events, unsigned ms) {
  std::vector<HANDLE> handles;
  for (event* e : events) handles.push_back(e ? e->impl_->h : nullptr);
  if (handles.empty() || handles.size() > MAXIMUM_WAIT_OBJECTS) return -1;
  DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                   ms == kInfinite ? INFINITE : ms);
  if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + handles.size()) return static_cast<int>(r - WAIT_OBJECT_0);
  return -1;
}

}  // namespace qv::win32::multithread
