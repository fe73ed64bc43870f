// The test thread as the UI thread: a message window for completions and a loop that runs until
// the expected results are in, with a deadline as safety net.
#pragma once

#include "hostbase/message_window.h"
#include "qv/message_loop.h"
#include "qv/singleton_ex.h"

#include <gtest/gtest.h>

#include <functional>

namespace tiv::android::test {

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    message_window = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::acquire();
    ASSERT_TRUE(message_window && message_window->Create(L"TivorelLoopTestMessageWnd"));
    qv::loop::window_spec spec;
    spec.class_name = L"TivorelLoopTestGuard";
    guard_ = qv::loop::create_window(spec, &LoopTest::guard_proc, this);
    ASSERT_NE(nullptr, guard_);
  }

  void TearDown() override {
    qv::loop::destroy_window(guard_);
    message_window->Destroy();
    qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::release();
  }

  // Runs the loop until done() holds (checked after every quit request) or limit_ms pass.
  bool run_until(const std::function<bool()>& done, unsigned limit_ms = 60000) {
    timed_out_ = false;
    qv::loop::set_timer(guard_, 1, limit_ms);
    while (!done() && !timed_out_) qv::loop::run();
    qv::loop::kill_timer(guard_, 1);
    return done();
  }

  // Runs the loop until every message posted to the message window before this call has been
  // handled (posted messages are handled in order).
  bool deliver_posted() {
    static struct marker : hostbase::MessageHandler {  // static: valid even if the wait gives up
      qv::loop::lparam_t seen = 0;
      void OnMessage(qv::loop::lparam_t n) override {
        seen = n;
        qv::loop::post_quit(0);
      }
    } m;
    static qv::loop::lparam_t last = 0;
    const qv::loop::lparam_t n = ++last;
    if (!message_window->PostHandlerMessage(&m, n)) return false;
    return run_until([&] { return m.seen == n; });
  }

  hostbase::CMessageWindow* message_window = nullptr;

 private:
  static qv::loop::lresult_t guard_proc(void* user, qv::loop::window_handle w, unsigned msg,
                                        qv::loop::wparam_t wp, qv::loop::lparam_t lp) {
    if (msg == qv::loop::kWmTimer) {
      static_cast<LoopTest*>(user)->timed_out_ = true;
      qv::loop::kill_timer(w, wp);
      qv::loop::post_quit(1);
      return 0;
    }
    return qv::loop::default_window_proc(w, msg, wp, lp);
  }

  qv::loop::window_handle guard_ = nullptr;
  bool timed_out_ = false;
};

}  // namespace tiv::android::test
