// A worker thread: run() is the body, supplied by the derived class. start() creates the thread
// suspended and then resumes it; stop() signals the stop event and waits for the body to end.
// Bodies watch stop_event() (with their own wake events if they have a queue) and end promptly.
// A thread is never ended forcibly: one killed inside the heap, the loader or a process start
// leaves their locks held, and the whole program hangs later.
//
// A derived class stops the thread in its own destructor: the body must not outlive the object.
#pragma once

#include "qv/event.h"

#include <memory>

namespace qv::win32::multithread {

namespace os {
class thread_os;
}

class thread {
 public:
  thread();
  virtual ~thread();
  thread(const thread&) = delete;
  thread& operator=(const thread&) = delete;

  // True when a thread is running afterwards (also when one was running already).
  bool start();
  // False when no thread is held; true once it has ended and the object is ready for another
  // start().
  bool stop();

  unsigned long id() const { return id_; }
  bool running() const;

 protected:
  virtual void run() = 0;
  // The manual-reset stop event of the running thread (valid from start() to stop()).
  event& stop_event() { return *stop_event_; }
  // True when stop was requested within ms.
  bool wait_for_stop(unsigned ms) { return stop_event_->wait(ms); }

 private:
  static void entry(void* self);

  unsigned long id_ = 0;
  std::unique_ptr<os::thread_os> handle_;
  std::unique_ptr<event> stop_event_;
};

}  // namespace qv::win32::multithread
