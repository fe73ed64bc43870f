// A reference-counted, process-wide instance of T: acquire() creates it or adds a reference,
// release() drops one and destroys the instance with the last one. Creation and release are
// serialised per type; instance() reads without locking (the UI thread after start-up).
#pragma once

#include "qv/mutex.h"

#include <memory>
#include <mutex>
#include <new>

namespace qv::design_pattern {

template <typename T>
class singleton_ex {
 public:
  static T* acquire() {
    std::lock_guard<win32::multithread::mutex> lock(type_mutex());
    auto& s = state();
    if (s.instance) {
      ++s.count;
    } else {
      s.instance.reset(new (std::nothrow) T());
      s.count = 1;  // also when construction gave nothing, as the callers count on it
    }
    return s.instance.get();
  }

  static void release() {
    std::lock_guard<win32::multithread::mutex> lock(type_mutex());
    auto& s = state();
    if (s.count == 0) return;  // more releases than acquires: nothing left to drop
    if (s.count-- == 1) s.instance.reset();
  }

  static T* instance() { return state().instance.get(); }
  static long ref_count() { return state().count; }

 private:
  struct data {
    std::unique_ptr<T> instance;
    long count = 0;
  };
  static data& state() {
    static data d;
    return d;
  }
  // Constructed on first use, destroyed at process exit.
  static win32::multithread::mutex& type_mutex() {
    static win32::multithread::mutex m;
    return m;
  }
};

}  // namespace qv::design_pattern
