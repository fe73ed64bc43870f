// A kernel event for worker threads: manual reset (stays set until reset) or auto reset (one
// successful wait clears it). Waits may take several events at once.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>

namespace qv::win32::multithread {

constexpr unsigned kInfinite = 0xFFFFFFFFu;

class event {
 public:
  explicit event(bool manual_reset, bool initially_set = false);
  ~event();
  event(const event&) = delete;
  event& operator=(const event&) = delete;

  void set();
  void reset();
  // True when the event was (or became) set within ms; an auto-reset event is cleared by it.
  bool wait(unsigned ms = kInfinite);
  bool is_set() const;  // looks without clearing

  // The HANDLE of the event on Windows (for waits together with other handles); null elsewhere.
  void* native_handle() const;

  // Waits until one of the events is set; returns its index (the first set one, which is cleared
  // if it is auto-reset), or -1 on time-out.
  static int wait_any(std::initializer_list<event*> events, unsigned ms = kInfinite);

  struct impl;

 private:
  std::unique_ptr<impl> impl_;
};

}  // namespace qv::win32::multithread
