// "AsyncGetURLLocate.Manager" against nginx's redirect chain: where redirects end, an address
// nobody answers, cancelling after the result is on its way, and a fresh session after
// cancelling everything.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "hostbase/message_window.h"
#include "listener.h"
#include "lua_callbacks.h"
#include "qv/singleton_ex.h"
#include "qv/text.h"
#include "store/url_locate.h"

namespace {

using namespace http_test;
using catalogue_test::lua_callbacks;
using store::CLuaAsyncGetURLLocate;

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

// Waits (bounded) until the worker has posted the task's result.
bool wait_posted(CLuaAsyncGetURLLocate& locate, std::int32_t id) {
  for (int i = 0; i < 1200; ++i) {
    if (locate.result_posted(id)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class UrlLocateNet : public ::testing::Test {
 protected:
  lua_callbacks lua;
};

TEST_F(UrlLocateNet, RedirectsAndUnreachableHosts) {
  const auto& s = servers::get();
  CLuaAsyncGetURLLocate locate;
  locate.Init();
  locate.Init();  // only the first has an effect
  const std::string refused =
      "http://127.0.0.1:" + std::to_string(catalogue_test::closed_port()) + "/x";
  const std::int32_t a = locate.AddCommand(qv::text::utf8_to_wide(s.nginx("/hop2")), lua.cb("two"));
  const std::int32_t b = locate.AddCommand(qv::text::utf8_to_wide(refused), lua.cb("refused"));
  const std::int32_t c =
      locate.AddCommand(qv::text::utf8_to_wide(s.nginx("/hop0")), lua.cb("none", true));
  EXPECT_EQ(a + 1, b);
  EXPECT_EQ(b + 1, c);
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ(std::to_string(a) + " " + quoted(s.nginx("/hop0")), lua.seen("two"));
  EXPECT_EQ(std::to_string(b) + " \"\"", lua.seen("refused"));
  EXPECT_EQ(std::to_string(c) + " " + quoted(s.nginx("/hop0")), lua.seen("none"));
  EXPECT_EQ("two refused none", lua.order());
  EXPECT_EQ(0u, locate.task_count());
  locate.UnInit();
}

TEST_F(UrlLocateNet, CancelAfterTheResultWasPosted) {
  const auto& s = servers::get();
  CLuaAsyncGetURLLocate locate;
  locate.Init();
  const std::int32_t first = locate.AddCommand(qv::text::utf8_to_wide(s.nginx("/hop1")), lua.cb("first"));
  locate.AddCommand(qv::text::utf8_to_wide(s.nginx("/hop0")), lua.cb("second", true));
  // The UI thread does not run the loop until the first result is posted; its message then
  // finds no task. The second result is posted after the first, so it arrives later.
  ASSERT_TRUE(wait_posted(locate, first));
  locate.CancleTask(first);
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ("second", lua.order());
  locate.UnInit();
}

TEST_F(UrlLocateNet, CancelAllAbortsTheRunningTaskAndLaterTasksStillResolve) {
  const auto& s = servers::get();
  catalogue_test::silent_listener silent;
  ASSERT_NE(0, silent.port());
  CLuaAsyncGetURLLocate locate;
  locate.Init();
  locate.AddCommand(L"http://127.0.0.1:" + std::to_wstring(silent.port()) + L"/hang",
                    lua.cb("hang"));
  locate.AddCommand(qv::text::utf8_to_wide(s.nginx("/hop0")), lua.cb("waiting"));
  // Once the silent server has the connection, the worker is inside the first task.
  ASSERT_TRUE(silent.accept_one(60000));
  locate.CancleAllTask();
  EXPECT_EQ(0u, locate.task_count());
  const std::int32_t later =
      locate.AddCommand(qv::text::utf8_to_wide(s.nginx("/hop3")), lua.cb("later", true));
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ("later", lua.order());
  EXPECT_EQ(std::to_string(later) + " " + quoted(s.nginx("/hop0")), lua.seen("later"));
  locate.UnInit();
}

TEST_F(UrlLocateNet, UnInitWhileResolvingEndsTheWorker) {
  catalogue_test::silent_listener silent;
  CLuaAsyncGetURLLocate locate;
  locate.Init();
  locate.AddCommand(L"http://127.0.0.1:" + std::to_wstring(silent.port()) + L"/hang",
                    lua.cb("hang"));
  ASSERT_TRUE(silent.accept_one(60000));
  locate.UnInit();
  // Nothing was delivered, and nothing will be: the worker is gone, and it left no message in
  // the queue (one would reach this object after its end). Posted messages arrive in order,
  // so the loop sees any such message before the one that ends it.
  struct end_loop : hostbase::MessageHandler {
    void OnMessage(qv::loop::lparam_t) override { loop_runner::finish(); }
  } end;
  auto* window = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance();
  ASSERT_NE(nullptr, window);
  ASSERT_TRUE(window->PostHandlerMessage(&end, 0));
  ASSERT_TRUE(loop_runner::run());
  EXPECT_EQ("(not called)", lua.seen("hang"));
  EXPECT_EQ(1u, locate.task_count());
  locate.CancleAllTask();
}

}  // namespace
