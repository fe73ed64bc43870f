// The process runner ("AsyncProcess.Manager" underneath) with the fake client as the child, its
// two output readings on the tools' own text, and the pool's process item.
#include <gtest/gtest.h>

#include "android/async_process.h"
#include "android/process_output.h"
#include "android/process_work_item.h"
#include "qv/text.h"
#include "grandchild_fixture.h"
#include "loop_fixture.h"
#include "test_env.h"
#include "test_support.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#include <vector>

using namespace tiv::android;
using tiv::android::test::fake;
using tiv::android::test::grandchild;

namespace {

struct result {
  std::int32_t id;
  std::int32_t mode;
  std::wstring output;
};

class collecting_listener : public ProcessListener {
 public:
  explicit collecting_listener(std::vector<result>* to) : to_(to) {}
  void OnProcessOutput(std::int32_t id, std::int32_t mode, const std::string& output) override {
    to_->push_back({id, mode, qv::text::utf8_to_wide(output)});
    qv::loop::post_quit(0);
  }

 private:
  std::vector<result>* to_;
};

std::wstring temp_file(const std::string& name) {
  return qv::text::utf8_to_wide((std::filesystem::temp_directory_path() /
                    (name + "_" + std::to_string(tiv::android::test::process_number())))
                       .u8string());
}

bool exists(const std::wstring& path) { return std::ifstream(qv::text::wide_to_utf8(path)).good(); }

// Polls (without the loop, which has nothing to deliver meanwhile) until the file exists.
bool wait_for_file(const std::wstring& path) {
  for (int i = 0; i < 3000; ++i) {
    if (exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class ProcessRunnerTest : public tiv::android::test::LoopTest {
 protected:
  void SetUp() override {
    LoopTest::SetUp();
    runner = std::make_unique<CAsyncProcessRunner>();
    runner->Init();
  }
  void TearDown() override {
    runner.reset();
    LoopTest::TearDown();
  }

  std::int32_t add(const std::wstring& line, std::int32_t mode = kParseRaw, int timeout = -1) {
    return runner->AddCommand(line, mode, timeout, std::make_unique<collecting_listener>(&results));
  }
  bool wait_results(std::size_t n) {
    return run_until([&] { return results.size() >= n; });
  }
  std::vector<std::int32_t> ids() const {
    std::vector<std::int32_t> v;
    for (const auto& r : results) v.push_back(r.id);
    return v;
  }

  std::unique_ptr<CAsyncProcessRunner> runner;
  std::vector<result> results;
};

}  // namespace

TEST(ProcessOutput, PortOwnerFromNetstatAndSsListings) {
  const struct {
    const wchar_t* text;
    int pid;  // 0: none
  } cases[] = {
      {L"Active Connections\r\n\r\n  Proto  Local Address          Foreign Address        State"
       L"           PID\r\n  TCP    0.0.0.0:135            0.0.0.0:0              LISTENING       "
       L"912\r\n  TCP    127.0.0.1:5037         0.0.0.0:0              LISTENING       4321\r\n",
       4321},
      {L"  TCP    127.0.0.1:5037         127.0.0.1:50312        ESTABLISHED     4321\r\n"
       L"  TCP    127.0.0.1:50312        127.0.0.1:5037         ESTABLISHED     77\r\n",
       0},
      {L"LISTEN 0      4096       127.0.0.1:5037      0.0.0.0:*    users:((\"adb\",pid=1234,fd=7))\n",
       1234},
      {L"LISTEN 0 128 0.0.0.0:22 0.0.0.0:* users:((\"sshd\",pid=600,fd=3))\n"
       L"LISTEN 0 4096 127.0.0.1:5037 0.0.0.0:* users:((\"adb\",pid=98765,fd=7),(\"adb\",pid=2,fd=8))\n",
       98765},
      {L"LISTEN 0 4096 127.0.0.1:50370 0.0.0.0:* users:((\"x\",pid=5,fd=7))\n", 0},
      {L"ESTAB 0 0 127.0.0.1:5037 127.0.0.1:40000 users:((\"adb\",pid=5,fd=7))\n", 0},
      {L"", 0},
      // A negative number is no process id (found by the ADB output harness).
      {L"  TCP    127.0.0.1:5037         0.0.0.0:0              LISTENING       -1\r\n", 0},
      {L"  TCP    127.0.0.1:5037   0.0.0.0:0   LISTENING-5037\r\n", 0},
  };
  for (const auto& c : cases) {
    const auto pid = ParseAdbPortOwner(c.text);
    if (c.pid) {
      ASSERT_TRUE(pid.has_value()) << qv::text::wide_to_utf8(c.text);
      EXPECT_EQ(c.pid, *pid) << qv::text::wide_to_utf8(c.text);
    } else {
      EXPECT_FALSE(pid.has_value()) << qv::text::wide_to_utf8(c.text);
    }
  }
}

TEST(ProcessOutput, BadgingReportGivesPackageLabelAndIcon) {
  const std::wstring report =
      L"package: name='com.example.app' versionCode='12' versionName='1.2'\n"
      L"sdkVersion:'21'\n"
      L"application-label:'Example'\n"
      L"application-icon-160:'res/icon.png'\n"
      L"application: label='Example' icon='res/icon.png'\n"
      L"launchable-activity: name='com.example.app.Main'  label='' icon=''\n";
  const BadgingInfo b = ParseBadging(report);
  EXPECT_EQ(L"com.example.app", b.package);
  EXPECT_EQ(L"Example", b.label);
  EXPECT_EQ(L"res/icon.png", b.icon);

  for (const wchar_t* miss : {L"", L"ERROR: dump failed because no AndroidManifest.xml found\n",
                              L"package: name='com.example.app'\n",  // no application line
                              L"package: name='a'\napplication: label='L'\n"}) {
    const BadgingInfo none = ParseBadging(miss);
    EXPECT_TRUE(none.package.empty() && none.label.empty() && none.icon.empty()) << qv::text::wide_to_utf8(miss);
  }
}

TEST_F(ProcessRunnerTest, OutputAndErrorAreCapturedAndModesKeepTheirNumber) {
  add(fake(L"out hello err , out world"));
  add(fake(L"out \"LISTEN 0 4096 127.0.0.1:5037 0.0.0.0:* users:((\"\"adb\"\",pid=42,fd=7))\""),
      kParseAdbPortOwner);
  ASSERT_TRUE(wait_results(2));
  EXPECT_EQ(L"hello,world", results[0].output);
  EXPECT_EQ(kParseRaw, results[0].mode);
  EXPECT_EQ(kParseAdbPortOwner, results[1].mode);
  const auto pid = ParseAdbPortOwner(results[1].output);
  ASSERT_TRUE(pid.has_value()) << qv::text::wide_to_utf8(results[1].output);
  EXPECT_EQ(42, *pid);
}

TEST_F(ProcessRunnerTest, ChildWritingSeveralMegabytesIsReadWhileItRuns) {
  // 8 MiB: far more than any pipe holds; with no limit a reader that waited first would hang.
  add(fake(L"repeat 524288 0123456789abcdef out END"));
  ASSERT_TRUE(wait_results(1));
  ASSERT_EQ(524288u * 16 + 3, results[0].output.size());
  EXPECT_EQ(L"END", results[0].output.substr(results[0].output.size() - 3));
}

TEST_F(ProcessRunnerTest, CommandsRunOneAfterAnotherInIdOrder) {
  const std::wstring started = temp_file("tivorel_runner_first");
  std::remove(qv::text::wide_to_utf8(started).c_str());
  const auto a = add(fake(L"touch \"" + started + L"\" sleep 300 out A"));
  const auto b = add(fake(L"out B"));
  ASSERT_TRUE(wait_for_file(started));
  const auto c = add(fake(L"out C"));  // added while the first runs
  ASSERT_TRUE(wait_results(3));
  EXPECT_EQ((std::vector<std::int32_t>{a, b, c}), ids());
  EXPECT_EQ(L"A", results[0].output);
  EXPECT_EQ(L"B", results[1].output);
  EXPECT_EQ(L"C", results[2].output);
  std::remove(qv::text::wide_to_utf8(started).c_str());
}

TEST_F(ProcessRunnerTest, CancellingTheRunningCommandEndsItsChildWithoutACall) {
  const std::wstring started = temp_file("tivorel_runner_forever");
  std::remove(qv::text::wide_to_utf8(started).c_str());
  const auto forever = add(fake(L"touch \"" + started + L"\" out partial ignoreterm forever"));
  const auto next = add(fake(L"out next"));
  ASSERT_TRUE(wait_for_file(started));
  runner->CancelTask(forever);
  // The next command can only run once the cancelled child has ended.
  ASSERT_TRUE(wait_results(1));
  EXPECT_EQ((std::vector<std::int32_t>{next}), ids());
  EXPECT_EQ(L"next", results[0].output);
  std::remove(qv::text::wide_to_utf8(started).c_str());
}

TEST_F(ProcessRunnerTest, TimedOutChildIsEndedAndItsOutputStillReported) {
  add(fake(L"out partial forever"), kParseRaw, 300);
  ASSERT_TRUE(wait_results(1));
  EXPECT_EQ(L"partial", results[0].output);
}

TEST_F(ProcessRunnerTest, CommandThatCannotStartGivesEmptyOutputInEveryMode) {
  for (std::int32_t mode : {kParseRaw, kParseBadging, kParseAdbPortOwner})
    add(L"tivorel_no_such_program.exe --version", mode);
  add(L"");
  ASSERT_TRUE(wait_results(4));
  for (const auto& r : results) EXPECT_EQ(L"", r.output) << r.id;
}

TEST_F(ProcessRunnerTest, UnInitEndsARunningChildThatIgnoresThePoliteRequest) {
  const std::wstring started = temp_file("tivorel_runner_uninit");
  std::remove(qv::text::wide_to_utf8(started).c_str());
  add(fake(L"touch \"" + started + L"\" ignoreterm forever"));
  add(fake(L"out never"));
  ASSERT_TRUE(wait_for_file(started));
  runner->UnInit();  // returns once the worker has left
  EXPECT_FALSE(run_until([&] { return !results.empty(); }, 500));
  EXPECT_TRUE(results.empty());
  std::remove(qv::text::wide_to_utf8(started).c_str());
}

TEST_F(ProcessRunnerTest, CancelAllDropsWaitingCommands) {
  const std::wstring started = temp_file("tivorel_runner_all");
  std::remove(qv::text::wide_to_utf8(started).c_str());
  add(fake(L"touch \"" + started + L"\" forever"));
  add(fake(L"out dropped"));
  ASSERT_TRUE(wait_for_file(started));
  runner->CancelAllTasks();
  const auto after = add(fake(L"out after"));
  ASSERT_TRUE(wait_results(1));
  EXPECT_EQ((std::vector<std::int32_t>{after}), ids());
  std::remove(qv::text::wide_to_utf8(started).c_str());
}

namespace {

// A command that writes "L", leaves a process behind that keeps its output open (it writes its
// id, then runs `left_steps`), waits until that runs, and then does `then`.
std::wstring leaving(const grandchild& left, const std::wstring& left_steps, int left_count,
                     const std::wstring& then = L"") {
  return fake(L"out L spawn " + std::to_wstring(2 + left_count) + L" pidfile " + left.pid_file() +
              L" " + left_steps + L" waitfile " + left.pid_file() + (then.empty() ? L"" : L" " + then));
}

}  // namespace

TEST_F(ProcessRunnerTest, WhatACommandLeavesHoldingItsOutputDoesNotHoldTheWorker) {
  // Each process left behind runs for ever: only the runner can let the worker go.
  const struct {
    const char* left;
    const wchar_t* steps;
    int count;
    int timeout;
    bool ends;  // it writes on into the output the runner closed, which ends it
  } cases[] = {
      {"writes without end", L"flood y", 2, -1, true},
      {"writes without end, the command has a limit", L"flood y", 2, 30000, true},
      {"sleeps", L"forever", 1, -1, false},
  };
  for (const auto& c : cases) {
    results.clear();
    grandchild left("tivorel_runner_left");
    const auto id = add(leaving(left, c.steps, c.count), kParseRaw, c.timeout);
    const auto next = add(fake(L"out next"));
    ASSERT_TRUE(wait_results(2)) << c.left;
    EXPECT_EQ((std::vector<std::int32_t>{id, next}), ids()) << c.left;
    EXPECT_EQ(L"L", results[0].output.substr(0, 1)) << c.left;
    EXPECT_EQ(L"next", results[1].output) << c.left;
    // The command waited for it to start; one that sleeps on is ended by the fixture.
    ASSERT_TRUE(left.wait_started()) << c.left;
    if (c.ends) {
      EXPECT_TRUE(left.wait_ended()) << c.left;
    }
  }
}

TEST_F(ProcessRunnerTest, CancellingEndsWhatTheCommandStartedAndFreesTheWorker) {
  const struct {
    const char* when;
    const wchar_t* steps;  // of the process left behind
    int count;
    const wchar_t* then;   // of the command, once that runs
  } cases[] = {
      {"while the command runs", L"forever", 1, L"forever"},
      {"after the command ended", L"flood y", 2, L""},
  };
  for (const auto& c : cases) {
    results.clear();
    grandchild left("tivorel_runner_cancel");
    const auto id = add(leaving(left, c.steps, c.count, c.then));
    const auto next = add(fake(L"out next"));
    ASSERT_TRUE(left.wait_started()) << c.when;
    runner->CancelTask(id);
    ASSERT_TRUE(wait_results(1)) << c.when;
    EXPECT_EQ((std::vector<std::int32_t>{next}), ids()) << c.when;
    EXPECT_TRUE(left.wait_ended()) << c.when;
  }
}

TEST_F(ProcessRunnerTest, UnInitReturnsWhileWhatACommandLeftWritesOn) {
  grandchild left("tivorel_runner_uninit_left");
  add(leaving(left, L"flood y", 2));
  ASSERT_TRUE(left.wait_started());
  auto uninit = std::async(std::launch::async, [this] { runner->UnInit(); });
  // The test's hang guard is the only limit: the process left behind writes for ever.
  const bool returned = uninit.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  if (!returned) tiv::android::test::end_process(left.pid());  // lets a hung UnInit go
  ASSERT_TRUE(returned);
  EXPECT_TRUE(left.wait_ended());
}

namespace {

struct pool_log {
  std::vector<std::pair<std::int32_t, std::int32_t>> done;
};

class pool_recorder {
 public:
  explicit pool_recorder(pool_log* log) : log_(log) {}
  void OnComplete(std::int32_t id, std::int32_t r) {
    log_->done.emplace_back(id, r);
    qv::loop::post_quit(0);
    delete this;
  }
  void Discard() { delete this; }

 private:
  pool_log* log_;
};

}  // namespace

TEST_F(ProcessRunnerTest, PoolProcessItemReportsSuccessOnlyForExitCodeZero) {
  pool_log log;
  auto cb = [&] { return hostbase::CompletionOf(new pool_recorder(&log)); };
  const struct {
    std::wstring line;
    int timeout;
    std::int32_t expected;
  } cases[] = {
      {fake(L"exit 0"), -1, hostbase::kWorkOk},
      {fake(L"sleep 50 exit 0"), 30000, hostbase::kWorkOk},
      {fake(L"exit 3"), -1, hostbase::kWorkFail},
      {L"tivorel_no_such_program.exe", -1, hostbase::kWorkFail},
      // Ended at its limit: a failure, although ending it leaves it an exit code of 0.
      {fake(L"forever"), 300, hostbase::kWorkFail},
  };
  std::vector<std::int32_t> ids;
  for (const auto& c : cases) ids.push_back(QueueProcess(qv::text::wide_to_utf8(c.line), c.timeout, cb()));
  ASSERT_TRUE(run_until([&] { return log.done.size() >= std::size(cases); }));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(ids[i], log.done[i].first);
    EXPECT_EQ(cases[i].expected, log.done[i].second) << qv::text::wide_to_utf8(cases[i].line);
  }
}
