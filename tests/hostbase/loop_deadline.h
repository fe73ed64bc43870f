// Ends the message loop after ms through a plain window of its own: the safety net of the
// loop-driven tests here.
#pragma once

#include "qv/message_loop.h"

namespace hostbase_test {

class deadline {
 public:
  deadline(unsigned ms, const wchar_t* class_name) {
    qv::loop::window_spec spec;
    spec.class_name = class_name;
    w_ = qv::loop::create_window(spec, &deadline::proc, this);
    qv::loop::set_timer(w_, 1, ms);
  }
  ~deadline() { qv::loop::destroy_window(w_); }
  deadline(const deadline&) = delete;
  deadline& operator=(const deadline&) = delete;
  bool fired = false;

 private:
  static qv::loop::lresult_t proc(void* self, qv::loop::window_handle w, unsigned msg,
                                  qv::loop::wparam_t wp, qv::loop::lparam_t lp) {
    if (msg == qv::loop::kWmTimer) {
      static_cast<deadline*>(self)->fired = true;
      qv::loop::kill_timer(w, wp);
      qv::loop::post_quit(0);
      return 0;
    }
    return qv::loop::default_window_proc(w, msg, wp, lp);
  }
  qv::loop::window_handle w_;
};

}  // namespace hostbase_test
