// Drives the message loop in tests until a condition holds, with a safety time-out.
#pragma once

#include "hostbase/message_window.h"
#include "qv/message_loop.h"
#include "qv/singleton_ex.h"

#include <functional>

namespace device_test {

// Runs the loop until done() is true (checked every few milliseconds) or timeout_ms passed;
// returns done().
inline bool run_until(std::function<bool()> done, unsigned timeout_ms = 20000) {
  struct state {
    std::function<bool()> done;
    unsigned left;
  } s{std::move(done), timeout_ms / 5};
  struct proc {
    static qv::loop::lresult_t call(void* user, qv::loop::window_handle w, unsigned msg, qv::loop::wparam_t wp,
                                    qv::loop::lparam_t lp) {
      if (msg != qv::loop::kWmTimer) return qv::loop::default_window_proc(w, msg, wp, lp);
      auto* st = static_cast<state*>(user);
      if (st->done() || st->left-- == 0) {
        qv::loop::kill_timer(w, wp);
        qv::loop::post_quit(0);
      }
      return 0;
    }
  };
  if (s.done()) return true;
  qv::loop::window_spec spec;
  spec.class_name = L"TivorelDeviceTestPump";
  qv::loop::window_handle w = qv::loop::create_window(spec, &proc::call, &s);
  qv::loop::set_timer(w, 1, 5);
  qv::loop::run();
  qv::loop::destroy_window(w);
  return s.done();
}

// Lets the loop handle whatever arrives during ms milliseconds (to see that nothing more comes).
inline void settle(unsigned ms = 300) {
  int ticks = 0;
  const int wanted = static_cast<int>(ms / 5);
  run_until([&] { return ++ticks > wanted; }, ms * 4);
}

// Runs the loop until every message posted to the process's message window before this call has
// been handled (a window handles posted messages in order). A worker's reports posted before an
// event the test has seen have all been delivered when this returns true.
inline bool deliver_posted() {
  // Static: a marker still queued when the wait gives up must stay valid.
  static struct marker : hostbase::MessageHandler {
    qv::loop::lparam_t seen = 0;
    void OnMessage(qv::loop::lparam_t n) override { seen = n; }
  } m;
  static qv::loop::lparam_t last = 0;
  const qv::loop::lparam_t n = ++last;
  auto* window = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance();
  if (!window || !window->PostHandlerMessage(&m, n)) return false;
  return run_until([&] { return m.seen == n; });
}

}  // namespace device_test
