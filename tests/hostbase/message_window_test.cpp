// The message window on the loop of the UI thread: ids, posted completions from workers,
// device-change listeners, one-second timers and Destroy.
#include <gtest/gtest.h>

#include "loop_deadline.h"

#include "hostbase/message_window.h"

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace hostbase;

namespace {

// Every deadline of this file has its own window class name.
struct deadline : hostbase_test::deadline {
  explicit deadline(unsigned ms) : hostbase_test::deadline(ms, L"TivorelTestDeadline") {}
};

struct recorder : WindowMessageListener, TimerListener {
  std::string name;
  std::vector<std::string>* log;
  int ticks = 0;
  int quit_after = 0;
  recorder(std::string n, std::vector<std::string>* l) : name(std::move(n)), log(l) {}
  void OnWindowMessage(WindowMessage& m) override {
    log->push_back(name + ":" + std::to_string(m.message) + "/" + std::to_string(m.wparam) + "/" +
                   std::to_string(m.lparam));
  }
  void OnTimer(std::uintptr_t) override {
    log->push_back(name + ":tick");
    if (++ticks == quit_after) qv::loop::post_quit(0);
  }
};

}  // namespace

TEST(MessageWindow, IdsStartAt0x7000AndOne) {
  CMessageWindow mw;
  ASSERT_TRUE(mw.Create(L"TivorelTestIds"));
  std::vector<std::string> log;
  recorder r("r", &log);
  EXPECT_EQ(mw.SetObjectTimer(&r), 0x7000u);
  EXPECT_EQ(mw.SetFunctionTimer([](std::uintptr_t) {}, 0), 0x7001u);
  mw.RemoveTimer(0x7000);
  EXPECT_EQ(mw.SetObjectTimer(&r), 0x7002u);  // never reused
  EXPECT_EQ(mw.AddDeviceChangeListener(&r), 1u);
  EXPECT_EQ(mw.AddDeviceChangeListener(&r), 2u);
  EXPECT_TRUE(mw.RemoveListener(1));
  EXPECT_FALSE(mw.RemoveListener(1));
  EXPECT_FALSE(mw.RemoveListener(77));
  EXPECT_EQ(mw.AddDeviceChangeListener(&r), 3u);
  mw.Destroy();
}

TEST(MessageWindow, DeviceChangeReachesListenersInOrder) {
  CMessageWindow mw;
  ASSERT_TRUE(mw.Create(L"TivorelTestDevice"));
  std::vector<std::string> log;
  recorder a("a", &log), b("b", &log);
  qv::loop::send_message(mw.window(), qv::loop::kWmDeviceChange, 1, 2);  // nobody listens yet
  EXPECT_TRUE(log.empty());
  const auto ida = mw.AddDeviceChangeListener(&a);
  mw.AddDeviceChangeListener(&b);
  EXPECT_EQ(qv::loop::send_message(mw.window(), qv::loop::kWmDeviceChange, 7, 8), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"a:537/7/8", "b:537/7/8"}));
  log.clear();
  mw.RemoveListener(ida);
  qv::loop::send_message(mw.window(), qv::loop::kWmDeviceChange, 9, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"b:537/9/0"}));
  log.clear();
  const auto w = mw.window();
  mw.Destroy();
  EXPECT_EQ(mw.window(), nullptr);
  qv::loop::send_message(w, qv::loop::kWmDeviceChange, 1, 1);
  EXPECT_TRUE(log.empty());
}

namespace {
struct counter_handler : MessageHandler {
  std::thread::id ui = std::this_thread::get_id();
  std::vector<qv::loop::lparam_t> got;
  bool off_thread = false;
  int last = 0;
  void OnMessage(qv::loop::lparam_t payload) override {
    if (std::this_thread::get_id() != ui) off_thread = true;
    got.push_back(payload);
    if (payload == 13) throw std::runtime_error("a failing handler");
    if (payload == last) qv::loop::post_quit(0);
  }
};
}  // namespace

TEST(MessageWindow, CompletionsPostedFromAWorkerRunOnTheUiThread) {
  CMessageWindow mw;
  ASSERT_TRUE(mw.Create(L"TivorelTestPost"));
  counter_handler h;
  h.last = 100;
  deadline guard(20000);
  std::thread worker([&] {
    for (int i = 1; i <= 100; ++i) mw.PostHandlerMessage(&h, i);
  });
  qv::loop::run();
  worker.join();
  EXPECT_FALSE(guard.fired);
  EXPECT_FALSE(h.off_thread);
  ASSERT_EQ(h.got.size(), 100u);  // the throwing one (13) did not stop the rest
  for (int i = 0; i < 100; ++i) EXPECT_EQ(h.got[i], i + 1);
  mw.Destroy();
  EXPECT_FALSE(mw.PostHandlerMessage(&h, 1));
}

namespace {
CMessageWindow* g_mw = nullptr;
int g_self_removing_ticks = 0;
void self_removing(std::uintptr_t id) {
  ++g_self_removing_ticks;
  g_mw->RemoveTimer(static_cast<std::uint32_t>(id));
}
}  // namespace

TEST(MessageWindow, TimersTickEverySecondUntilRemoved) {
  CMessageWindow mw;
  ASSERT_TRUE(mw.Create(L"TivorelTestTimer"));
  g_mw = &mw;
  g_self_removing_ticks = 0;
  std::vector<std::string> log;
  recorder clock("clock", &log);
  clock.quit_after = 3;
  // The function timer removes itself from inside its tick; its parameter is its own id.
  const std::uint32_t expected_id = 0x7000;
  EXPECT_EQ(mw.SetFunctionTimer(self_removing, expected_id), expected_id);
  mw.SetObjectTimer(&clock);
  deadline guard(20000);
  qv::loop::run();
  EXPECT_FALSE(guard.fired);
  EXPECT_EQ(clock.ticks, 3);
  EXPECT_EQ(g_self_removing_ticks, 1);
  mw.Destroy();
  g_mw = nullptr;
}

TEST(MessageWindow, NothingIsDeliveredAfterDestroy) {
  CMessageWindow mw;
  ASSERT_TRUE(mw.Create(L"TivorelTestDestroy"));
  std::vector<std::string> log;
  recorder r("r", &log);
  mw.SetObjectTimer(&r);
  mw.AddDeviceChangeListener(&r);
  const auto w = mw.window();
  mw.Destroy();
  mw.Destroy();  // twice is harmless
  qv::loop::post_message(w, qv::loop::kWmDeviceChange, 0, 0);
  deadline guard(2500);  // longer than two timer periods
  qv::loop::run();
  EXPECT_TRUE(guard.fired);
  EXPECT_TRUE(log.empty());
}
