// The runner with the staged client front, which runs the fake stock client in place of adb.
#include "runner_fixture.h"
#include "scripted_adb_server.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

using namespace tiv::android;
using namespace tiv::android::test;
namespace fs = std::filesystem;

namespace {

class Runner : public RunnerTest {
 protected:
  static void SetUpTestSuite() {
    // "tivorel_help.exe" is found through PATH (the test binary's folder does not hold it).
    prepend_path(stage_dir());
    set_env("TIVOREL_ADB", qv::text::wide_to_utf8(fake_adb()));
    // Every command goes to the stand-in, even where an ADB server answers on this machine.
    set_env("TIVOREL_ADB_PROTOCOL", "0");
  }
};

using results = std::vector<std::pair<int, std::wstring>>;

}  // namespace

TEST_F(Runner, DeliversWhatTheStockClientPrintedInOrder) {
  runner->Start();
  const int a = add(L"out A err B out C exit 3");
  const int q = add(L"out quick", 0, 1);
  ASSERT_TRUE(run_until(2));
  std::sort(cb.results.begin(), cb.results.end());
  EXPECT_EQ((results{{a, L"ABC"}, {q, L"quick"}}), cb.results);
}

TEST_F(Runner, ArgumentsReachTheStockClientUnchanged) {
  runner->Start();
  const int id = add(L"args -s \"emulator 5554\" install -r \"C:\\My Apps\\a.apk\"");
  ASSERT_TRUE(run_until(1));
  EXPECT_EQ((results{{id, L"[-s][emulator 5554][install][-r][C:\\My Apps\\a.apk]"}}), cb.results);
}

TEST_F(Runner, RunsByPriorityKeyThenById) {
  const int a = add(L"out A", 2);
  const int b = add(L"out B", 0);
  const int c = add(L"out C", 0);
  const int d = add(L"out D", 2);
  const int e = add(L"out E", 1);
  const int f = add(L"out F", -5);
  EXPECT_EQ(6, f);  // ids count from 1 in queueing order
  runner->Start();
  ASSERT_TRUE(run_until(6));
  EXPECT_EQ((std::vector<int>{f, b, c, e, a, d}), cb.ids());
}

TEST_F(Runner, QuickAndCommonNeverCross) {
  runner->Start();
  const int never = add(L"out neither", 0, 2);  // a quick value of neither worker
  const int stuck = add(L"forever");            // holds the common worker
  const int q1 = add(L"out Q1", 0, 1);
  const int q2 = add(L"out Q2", 5, 1);
  ASSERT_TRUE(run_until(2));
  EXPECT_EQ((results{{q1, L"Q1"}, {q2, L"Q2"}}), cb.results);
  runner->CancelCommand(stuck);
  const int c = add(L"out C sleep 200");
  const int q3 = add(L"out Q3", 0, 1);
  ASSERT_TRUE(run_until(4));
  std::sort(cb.results.begin() + 2, cb.results.end());
  EXPECT_EQ((results{{q1, L"Q1"}, {q2, L"Q2"}, {c, L"C"}, {q3, L"Q3"}}), cb.results);
  for (const auto& r : cb.results) EXPECT_NE(never, r.first);
}

TEST_F(Runner, TimeOutEndsAClientThatNeverExitsAndKeepsWhatItWrote) {
  runner->Start();
  const int id = add(L"out partial forever", 0, 0, 5000);
  ASSERT_TRUE(run_until(1));
  EXPECT_EQ((results{{id, L"partial"}}), cb.results);
  // The worker is free again.
  const int next = add(L"out next");
  ASSERT_TRUE(run_until(2));
  EXPECT_EQ(next, cb.results[1].first);
}

TEST_F(Runner, EndingTheClientEndsTheStockClient) {
  const std::wstring marker =
      executable_directory() + L"survivor_" + std::to_wstring(process_number()) + L".txt";
  std::filesystem::remove(std::filesystem::path(marker));
  runner->Start();
  add(L"sleep 1500 touch " + qv::cmdline::quote_argument(marker), 0, 0, 300);
  ASSERT_TRUE(run_until(1));
  run_until(0, 2500);  // long past the moment the stock client would have written it
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(marker)));
  std::filesystem::remove(std::filesystem::path(marker));
}

TEST_F(Runner, CancelledCommandsDeliverNothing) {
  runner->Start();
  const int running = add(L"forever");
  const int waiting = add(L"out waiting");
  run_until(0, 500);
  runner->CancelCommand(running);  // its client is ended: otherwise nothing after it could run
  runner->CancelCommand(waiting);
  runner->CancelCommand(12345);  // unknown: nothing happens
  const int after = add(L"out after");
  ASSERT_TRUE(run_until(1));
  run_until(0, 300);
  EXPECT_EQ((results{{after, L"after"}}), cb.results);
}

TEST_F(Runner, CancelAllEndsRunningClientsOnBothWorkers) {
  runner->Start();
  add(L"forever");
  add(L"forever", 0, 1);
  add(L"out never");
  run_until(0, 500);
  runner->CancelAllCommands();
  const int c = add(L"out C");
  const int q = add(L"out Q", 0, 1);
  ASSERT_TRUE(run_until(2));
  std::sort(cb.results.begin(), cb.results.end());
  EXPECT_EQ((results{{c, L"C"}, {q, L"Q"}}), cb.results);
}

TEST_F(Runner, CallbacksMayQueueAndCancelFromInside) {
  runner->Start();
  int second = 0, third = 0;
  const int first = add(L"out 1");
  second = add(L"sleep 200 out 2");
  cb.on_result = [&](int id, std::wstring&) {
    if (id != first) return;
    runner->CancelCommand(second);
    runner->CancelCommand(first);  // already being delivered: nothing happens
    third = add(L"out 3");
  };
  ASSERT_TRUE(run_until(2));
  run_until(0, 300);
  EXPECT_EQ((results{{first, L"1"}, {third, L"3"}}), cb.results);
}

TEST_F(Runner, StartTwiceRunsEachCommandOnce) {
  EXPECT_EQ(1, runner->Start());
  EXPECT_EQ(1, runner->Start());
  const int a = add(L"out a");
  const int b = add(L"out b");
  const int c = add(L"out c");
  ASSERT_TRUE(run_until(3));
  run_until(0, 300);
  EXPECT_EQ((results{{a, L"a"}, {b, L"b"}, {c, L"c"}}), cb.results);
}

TEST_F(Runner, NothingRunsBeforeStartOrAfterStop) {
  add(L"out early");
  run_until(0, 300);
  EXPECT_TRUE(cb.results.empty());
  runner->Start();
  runner->Stop();  // drops the queued command
  runner->Start();  // single use: starts nothing
  add(L"out late");
  add(L"out late quick", 0, 1);
  run_until(0, 1000);
  EXPECT_TRUE(cb.results.empty());
}

// The client runs until the test removes its hold file: Stop returns while it still runs.
TEST_F(Runner, StopDoesNotWaitForARunningClient) {
  const fs::path dir = fs::temp_directory_path() / ("tivorel_runner_stop_" + std::to_string(process_number()));
  fs::create_directories(dir);
  const fs::path started = dir / "started", hold = dir / "hold";
  std::ofstream(hold) << "x";
  runner->Start();
  add(L"touch \"" + started.wstring() + L"\" hold \"" + hold.wstring() + L"\" out late");
  for (int i = 0; i < 6000 && !fs::exists(started); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(started)) << "the client runs";
  // Should Stop wait for the client, a watchdog lets the client end (a hang guard only).
  std::mutex m;
  std::condition_variable cv;
  bool returned = false, watchdog_released = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> l(m);
    if (!cv.wait_for(l, std::chrono::seconds(60), [&] { return returned; })) {
      watchdog_released = true;
      release_hold(hold);
    }
  });
  runner->Stop();
  {
    std::lock_guard<std::mutex> l(m);
    returned = true;
  }
  cv.notify_all();
  watchdog.join();
  EXPECT_FALSE(watchdog_released) << "Stop waited for the client";
  // The client ends on its own once its hold is gone; nothing of it is delivered. (A hold left
  // behind kept the client, and with it the test program's end, waiting under Wine.)
  ASSERT_TRUE(release_hold(hold));
  std::error_code ec;
  fs::remove_all(dir, ec);
  EXPECT_TRUE(deliver_posted());
  EXPECT_TRUE(cb.results.empty());
}

TEST_F(Runner, EmptyOutputs) {
  runner->Start();
  const int silent = add(L"exit 0");
  const int failing = add(L"exit 1");
  // A client front that cannot be started at all.
  const int no_client = runner->AddCommand(&cb, L"tivorel_no_such_client.exe  devices", 0, 0, -1);
  ASSERT_TRUE(run_until(3));
  EXPECT_EQ((results{{silent, L""}, {failing, L""}, {no_client, L""}}), cb.results);
}

// The client front runs but finds no stock client: one error line that names it, so that the
// UI can tell a missing client from an empty device list.
TEST_F(Runner, MissingStockClientCompletesWithOneErrorLineNamingIt) {
  const std::wstring missing = executable_directory() + L"no_such_adb.exe";
  set_env("TIVOREL_ADB", qv::text::wide_to_utf8(missing));
  runner->Start();
  const int id = add(L"devices");
  const int forward = add(L"-s SER forward tcp:1 tcp:2");
  const bool done = run_until(2);
  set_env("TIVOREL_ADB", qv::text::wide_to_utf8(fake_adb()));
  ASSERT_TRUE(done);
  ASSERT_EQ(cb.results.size(), 2u);
  const std::wstring& text = cb.results[0].second;
  EXPECT_EQ(cb.results[0].first, id);
  EXPECT_EQ(text.rfind(L"error: cannot run the stock ADB client " + missing, 0), 0u) << qv::text::wide_to_utf8(text);
  EXPECT_NE(text.find(L"TIVOREL_ADB"), std::wstring::npos);
  EXPECT_EQ(text.back(), L'\n');
  EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 1);
  EXPECT_EQ(cb.results[1], (std::make_pair(forward, text)));
}

// A server of another version is the stock client's to restart; when there is none to run, the
// one error line says which version the server has.
TEST_F(Runner, MissingStockClientAlsoNamesTheServerVersionThatNeededIt) {
  adb_test::scripted_server old(39);
  const std::wstring missing = executable_directory() + L"no_such_adb.exe";
  set_env("TIVOREL_ADB", qv::text::wide_to_utf8(missing));
  set_env("ANDROID_ADB_SERVER_PORT", std::to_string(old.port()));
  unset_env("TIVOREL_ADB_PROTOCOL");
  runner->Start();
  add(L"devices");
  const bool done = run_until(1);
  set_env("TIVOREL_ADB_PROTOCOL", "0");
  unset_env("ANDROID_ADB_SERVER_PORT");
  set_env("TIVOREL_ADB", qv::text::wide_to_utf8(fake_adb()));
  ASSERT_TRUE(done);
  const std::wstring& text = cb.results[0].second;
  EXPECT_EQ(text.rfind(L"error: cannot run the stock ADB client " + missing, 0), 0u)
      << qv::text::wide_to_utf8(text);
  EXPECT_NE(text.find(L"adb server version (39) doesn't match this client (41)"),
            std::wstring::npos)
      << qv::text::wide_to_utf8(text);
  EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 1);
}

TEST_F(Runner, LongOutputIsCutAtACharacterBoundary) {
  // 2 ASCII bytes, then 4000 characters of 1 to 4 bytes: the block keeps 3999 bytes and a NUL.
  const struct {
    const wchar_t* hex;
    std::wstring unit;
    std::size_t bytes;
  } cases[] = {
      {L"7A", L"z", 1},
      {L"C3A9", L"\u00E9", 2},
      {L"E282AC", L"\u20AC", 3},
      {L"F09F9880", qv::text::utf8_to_wide("\xF0\x9F\x98\x80"), 4},
  };
  runner->Start();
  std::vector<std::wstring> expected;
  for (const auto& c : cases) {
    add(L"out ab repeathex 4000 " + std::wstring(c.hex));
    std::wstring text = L"ab";
    for (std::size_t k = 0; k < (3999 - 2) / c.bytes; ++k) text += c.unit;
    expected.push_back(text);
  }
  ASSERT_TRUE(run_until(4));
  for (std::size_t i = 0; i < 4; ++i) {
    const std::wstring& got = cb.results[i].second;
    EXPECT_EQ(expected[i].size(), got.size()) << "unit of " << cases[i].bytes << " bytes";
    EXPECT_TRUE(expected[i] == got) << "unit of " << cases[i].bytes << " bytes";
  }
}

TEST_F(Runner, ClientExitsWithTheStockClientsCode) {
  const struct {
    const wchar_t* steps;
    int code;
  } cases[] = {
      {L"exit 0", 0},
      {L"out x exit 3", 3},
      {L"err y exit 255", 255},
  };
  for (const auto& c : cases) {
    process_options o;
    o.environment = {{CAndroidConnectManager::kBlockVariable, L"TivorelAdbTestExit"}};
    auto p = child_process::start(L"tivorel_help.exe  " + std::wstring(c.steps), o);
    ASSERT_TRUE(p);
    ASSERT_TRUE(p->wait(-1));
    EXPECT_EQ(c.code, p->exit_code()) << qv::text::wide_to_utf8(c.steps);
  }
}
