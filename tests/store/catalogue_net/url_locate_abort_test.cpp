// "AsyncGetURLLocate.Manager" with an opener of the test's own that holds a request for as long
// as the test likes: what a request the network never lets go of does to aborts and to UnInit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "hostbase/message_window.h"
#include "lua_callbacks.h"
#include "qv/singleton_ex.h"
#include "store/url_locate.h"

namespace {

using catalogue_test::lua_callbacks;
using http_test::loop_runner;
using store::CLuaAsyncGetURLLocate;

// Holds every request for "held" until release(); answers any other URL at once with
// "final:" + the URL. Shared with the opener's threads, which may outlive a test's objects.
struct held_requests {
  std::mutex m;
  std::condition_variable cv;
  int entered = 0;
  bool released = false;
  bool abandoned_seen = false;  // what the held request saw of its abandonment at release
  bool answered = false;

  store::url_opener opener(const std::shared_ptr<held_requests>& self) {
    return [self](const std::wstring& url, const std::atomic<bool>& abandoned) -> std::wstring {
      if (url != L"held") return L"final:" + url;
      std::unique_lock<std::mutex> l(self->m);
      ++self->entered;
      self->cv.notify_all();
      self->cv.wait(l, [&] { return self->released; });
      self->abandoned_seen = abandoned.load();
      self->answered = true;
      self->cv.notify_all();
      return L"final:held";
    };
  }
  // Bounded only as a hang guard.
  bool wait_entered(int n) {
    std::unique_lock<std::mutex> l(m);
    return cv.wait_for(l, std::chrono::seconds(60), [&] { return entered >= n; });
  }
  void release() {
    std::lock_guard<std::mutex> l(m);
    released = true;
    cv.notify_all();
  }
  bool wait_answered() {
    std::unique_lock<std::mutex> l(m);
    return cv.wait_for(l, std::chrono::seconds(60), [&] { return answered; });
  }
};

// Runs the loop until every message posted to the message window before this call is handled.
void deliver_posted() {
  struct end_loop : hostbase::MessageHandler {
    void OnMessage(qv::loop::lparam_t) override { loop_runner::finish(); }
  };
  static end_loop end;  // static: a message still queued must find it
  auto* window = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance();
  ASSERT_NE(nullptr, window);
  ASSERT_TRUE(window->PostHandlerMessage(&end, 0));
  ASSERT_TRUE(loop_runner::run());
}

// A resolver whose first task is a request held by the opener.
class UrlLocateAbort : public ::testing::Test {
 protected:
  void SetUp() override {
    locate.Init();
    locate.AddCommand(L"held", lua.cb("held"));
    ASSERT_TRUE(held->wait_entered(1));
  }
  void TearDown() override { held->release(); }

  lua_callbacks lua;
  std::shared_ptr<held_requests> held = std::make_shared<held_requests>();
  CLuaAsyncGetURLLocate locate{nullptr, held->opener(held)};
};

TEST_F(UrlLocateAbort, CancelAllLeavesAHeldRequestBehindAndLaterTasksResolve) {
  locate.CancleAllTask();
  const std::int32_t later = locate.AddCommand(L"later", lua.cb("later", true));
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ(std::to_string(later) + " \"final:later\"", lua.seen("later"));
  EXPECT_EQ("(not called)", lua.seen("held"));
  held->release();
  ASSERT_TRUE(held->wait_answered());
  EXPECT_TRUE(held->abandoned_seen) << "the held request was told nobody waits for it";
  locate.UnInit();
}

TEST_F(UrlLocateAbort, UnInitReturnsWhileARequestIsHeldAndDeliversNothing) {
  // Should UnInit wait for the request, a watchdog releases it (a hang guard only).
  std::mutex m;
  std::condition_variable cv;
  bool returned = false;
  bool watchdog_released = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> l(m);
    if (!cv.wait_for(l, std::chrono::seconds(60), [&] { return returned; })) {
      watchdog_released = true;
      held->release();
    }
  });
  locate.UnInit();
  {
    std::lock_guard<std::mutex> l(m);
    returned = true;
  }
  cv.notify_all();
  watchdog.join();
  EXPECT_FALSE(watchdog_released) << "UnInit waited for the network";
  held->release();
  deliver_posted();
  EXPECT_EQ("(not called)", lua.seen("held"));
}

}  // namespace
