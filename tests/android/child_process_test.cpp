// Starting, waiting for and ending child processes, with the fake client as the child.
#include <gtest/gtest.h>

#include "android/child_process.h"
#include "grandchild_fixture.h"
#include "test_support.h"

#include <thread>

using namespace tiv::android;
using tiv::android::test::fake;

namespace {

process_options capturing() {
  process_options o;
  o.capture_output = true;
  return o;
}

// Runs to the end and returns everything the child wrote.
std::string run_all(child_process& p) {
  std::string out;
  while (p.read_output(out, 50)) {
    if (p.wait(0)) {
      p.read_output(out, 0);  // what it wrote just before it ended
      break;
    }
  }
  EXPECT_TRUE(p.wait(-1));
  return out;
}

}  // namespace

TEST(ChildProcess, CapturesOutputAndErrorInOrderWithTheExitCode) {
  auto p = child_process::start(fake(L"out A err B out C exit 7"), capturing());
  ASSERT_TRUE(p);
  EXPECT_EQ("ABC", run_all(*p));
  EXPECT_EQ(7, p->exit_code());
}

TEST(ChildProcess, ArgumentsArriveAsTheWindowsRulesSplitThem) {
  auto p = child_process::start(fake(L"args \"a b\" c\\\"d \"\" e\\\\f"), capturing());
  ASSERT_TRUE(p);
  EXPECT_EQ("[a b][c\"d][][e\\\\f]", run_all(*p));
}

TEST(ChildProcess, BareNameIsFoundInTheProgramFolder) {
  // The test binary and the fake client share a folder; ".exe" is accepted on every target.
  auto p = child_process::start(L"fake_adb.exe  out found", capturing());
  ASSERT_TRUE(p);
  EXPECT_EQ("found", run_all(*p));
}

TEST(ChildProcess, MissingProgramFailsToStartWithAReason) {
  std::wstring why;
  EXPECT_FALSE(child_process::start(L"tivorel_no_such_program.exe devices", {}, &why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(child_process::start(L"", {}, &why));
}

TEST(ChildProcess, EnvironmentVariablesAreAddedAndReplaced) {
  process_options o = capturing();
  o.environment = {{L"TIVOREL_TEST_A", L"alpha"}, {L"TIVOREL_TEST_A", L"beta"}};
  auto p = child_process::start(fake(L"env TIVOREL_TEST_A out , env TIVOREL_TEST_UNSET"), o);
  ASSERT_TRUE(p);
  EXPECT_EQ("beta,<unset>", run_all(*p));
}

TEST(ChildProcess, LargeOutputIsDrainedWhileTheChildRuns) {
  // Far more than a pipe holds: a reader that waited for the end first would never see it.
  auto p = child_process::start(fake(L"repeat 20000 0123456789 out END"), capturing());
  ASSERT_TRUE(p);
  const std::string out = run_all(*p);
  EXPECT_EQ(200003u, out.size());
  EXPECT_EQ("END", out.substr(out.size() - 3));
}

TEST(ChildProcess, WaitWithALimitThenTerminate) {
  for (bool group : {false, true}) {
    process_options o;
    o.own_group = group;
    auto p = child_process::start(fake(L"forever"), o);
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->wait(20));
    EXPECT_EQ(-1, p->exit_code());
    p->terminate();
    EXPECT_TRUE(p->wait(-1));
    p->terminate();  // after the end: nothing happens
    EXPECT_TRUE(p->wait(0));
  }
}

TEST(ChildProcess, TerminateEndsAChildThatIgnoresThePoliteRequest) {
  for (bool group : {false, true}) {
    process_options o = capturing();
    o.own_group = group;
    auto p = child_process::start(fake(L"ignoreterm out ready forever"), o);
    ASSERT_TRUE(p);
    std::string out;
    while (out.empty() && p->read_output(out, 100)) {
    }
    ASSERT_EQ("ready", out);  // the signal setting is in place
    p->terminate();
    EXPECT_TRUE(p->wait(-1));
  }
}

TEST(ChildProcess, TerminateFromAnotherThreadEndsAWaitWithoutLimit) {
  auto p = child_process::start(fake(L"forever"), {});
  ASSERT_TRUE(p);
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    p->terminate();
  });
  EXPECT_TRUE(p->wait(-1));
  killer.join();
}

TEST(ChildProcess, TerminateEndsTheGroupAlsoAfterTheChildHasEnded) {
  // The child leaves a process behind in its group, waits until it runs, and ends; ending the
  // group must still reach what it left, also where that ignores the polite request.
  const struct {
    const char* left;
    std::wstring first_steps;  // before it writes its id
    int first_count;
  } cases[] = {
      {"ends on the polite request", L"", 0},
      {"ignores the polite request", L"ignoreterm ", 1},
  };
  for (const auto& c : cases) {
    tiv::android::test::grandchild left("tivorel_child_left");
    process_options o;
    o.own_group = true;
    o.own_job = true;
    auto p = child_process::start(
        fake(L"spawn " + std::to_wstring(3 + c.first_count) + L" " + c.first_steps + L"pidfile " +
             left.pid_file() + L" forever waitfile " + left.pid_file()),
        o);
    ASSERT_TRUE(p) << c.left;
    EXPECT_TRUE(p->wait(-1)) << c.left;
    EXPECT_EQ(0, p->exit_code()) << c.left;
    ASSERT_TRUE(left.wait_started()) << c.left;
    EXPECT_FALSE(tiv::android::test::process_ended(left.pid())) << c.left;
    p->terminate();
    p.reset();
    EXPECT_TRUE(left.wait_ended()) << c.left;
  }
}
