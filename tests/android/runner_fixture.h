// A runner on private output blocks, driven through the message loop of the test thread.
#pragma once

#include "android/android_connect_manager.h"
#include "qv/text.h"
#include "qv/message_loop.h"
#include "qv/singleton_ex.h"
#include "test_env.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tiv::android::test {

// Records every delivery and ends the loop once the expected number has arrived.
class recorder : public AndroidConnectCallback {
 public:
  std::vector<std::pair<int, std::wstring>> results;
  std::size_t expected = 0;
  std::function<void(int, std::wstring&)> on_result;

  void OnResult(int id, std::wstring& output) override {
    results.emplace_back(id, output);
    if (on_result) on_result(id, output);
    if (expected && results.size() == expected) qv::loop::post_quit(0);
  }
  std::vector<int> ids() const {
    std::vector<int> out;
    for (const auto& r : results) out.push_back(r.first);
    return out;
  }
};

class RunnerTest : public ::testing::Test {
 protected:
  static std::wstring stage_dir() { return executable_directory() + L"../../stage/"; }

  void SetUp() override {
    // Completions come through the process's message window, as in the program.
    message_window = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::acquire();
    ASSERT_TRUE(message_window && message_window->Create(L"TivorelAdbTestMessageWnd"));
    static int counter = 0;
    const std::string suffix = std::to_string(process_number()) + "_" + std::to_string(++counter);
    runner = std::make_unique<CAndroidConnectManager>("TivorelAdbTestCommon" + suffix,
                                                      "TivorelAdbTestQuick" + suffix);
    qv::loop::window_spec spec;
    spec.class_name = L"TivorelAdbTestWnd";
    guard_window = qv::loop::create_window(spec, &RunnerTest::guard_proc, this);
    ASSERT_NE(nullptr, guard_window);
  }

  void TearDown() override {
    runner.reset();
    qv::loop::destroy_window(guard_window);
    // Completions still queued for the runner go with the window.
    message_window->Destroy();
    qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::release();
  }

  // Runs the loop until `count` results have arrived (true), or until limit_ms have passed
  // (false). With count 0 it watches for the whole time.
  bool run_until(std::size_t count, unsigned limit_ms = 60000) {
    if (count && cb.results.size() >= count) return true;
    cb.expected = count;
    const bool quit = run_loop(limit_ms);
    cb.expected = 0;
    return quit && cb.results.size() >= count;
  }

  // Runs the loop until something posts the quit message (true) or limit_ms have passed.
  bool run_loop(unsigned limit_ms) {
    timed_out = false;
    qv::loop::set_timer(guard_window, 1, limit_ms);
    qv::loop::run();
    qv::loop::kill_timer(guard_window, 1);
    return !timed_out;
  }

  // Runs the loop until every message posted to the message window before this call has been
  // handled (posted messages are handled in order).
  bool deliver_posted() {
    static struct marker : hostbase::MessageHandler {  // static: valid even if the wait gives up
      void OnMessage(qv::loop::lparam_t) override { qv::loop::post_quit(0); }
    } m;
    return message_window->PostHandlerMessage(&m, 0) && run_loop(60000);
  }

  int add(const std::wstring& steps, int key = 0, int quick = 0, int timeout_ms = -1) {
    return runner->AddCommand(&cb, L"tivorel_help.exe  " + steps, key, quick, timeout_ms);
  }

  hostbase::CMessageWindow* message_window = nullptr;
  std::unique_ptr<CAndroidConnectManager> runner;
  recorder cb;

 private:
  static qv::loop::lresult_t guard_proc(void* user, qv::loop::window_handle w, unsigned msg,
                                        qv::loop::wparam_t wp, qv::loop::lparam_t lp) {
    if (msg == qv::loop::kWmTimer) {
      static_cast<RunnerTest*>(user)->timed_out = true;
      qv::loop::kill_timer(w, wp);
      qv::loop::post_quit(1);
      return 0;
    }
    return qv::loop::default_window_proc(w, msg, wp, lp);
  }

  qv::loop::window_handle guard_window = nullptr;
  bool timed_out = false;
};

}  // namespace tiv::android::test
