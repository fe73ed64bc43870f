// Driver installation with a test package holding a fake installer that records its arguments
// and ends with a chosen code.
#include <gtest/gtest.h>

#include "android/child_process.h"
#include "android/driver_manager.h"
#include "qv/path.h"
#include "qv/text.h"
#include "desktop/archive.h"
#include "hostbase/archive_extractor.h"
#include "hostbase/path_manager.h"
#include "loop_fixture.h"
#include "temp_dir.h"
#include "test_env.h"
#include "test_support.h"
#include "zip_writer.h"

#include <chrono>
#include <memory>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

using namespace tiv::android;
using namespace tiv::android::test;
namespace fs = std::filesystem;

TEST(DriverCommand, EachInstallTypeBuildsItsCommand) {
  const std::wstring target = L"C:\\Temp\\Tivorel\\driverDir\\driver_001\\android_winusb.inf";
  const std::wstring installer = L"C:\\Program\\dpinst.exe";
  const struct {
    std::int32_t type;
    bool run;
    std::wstring file;
    std::wstring parameters;
  } cases[] = {
      {1, true, L"\"" + target + L"\"", L""},
      {2, true, installer, L"\"" + target + L"\"  \"/SW\"  \"/LM\""},
      {3, true, L"msiexec", L"/i \"" + target + L"\""},
      {0, false, L"", L""},
      {4, false, L"", L""},
  };
  for (const auto& c : cases) {
    const InstallCommand cmd = BuildInstallCommand(c.type, target, installer, {L"/SW", L"/LM"});
    EXPECT_EQ(c.run, cmd.run) << c.type;
    EXPECT_EQ(c.file, cmd.file) << c.type;
    EXPECT_EQ(c.parameters, cmd.parameters) << c.type;
  }
  EXPECT_EQ(L"\"" + target + L"\"", BuildInstallCommand(2, target, installer, {}).parameters);
}

TEST(DriverCommand, PackageFolderAndDriverUrl) {
  EXPECT_EQ(L"driver_001", PackageFolderName(L"C:\\dl\\driver_001.zip"));
  EXPECT_EQ(L"pkg.v2", PackageFolderName(L"/tmp/x/pkg.v2.zip"));
  EXPECT_EQ(L"noext", PackageFolderName(L"noext"));
  const DriverUrl x86 = DriverUrlFor(1), x64 = DriverUrlFor(2);
  EXPECT_EQ(L"driver_001.zip", x86.package);
  EXPECT_EQ(L"driver_002.zip", x64.package);
  for (const auto& u : {x86, x64}) {
    EXPECT_EQ(L"android_winusb.inf", u.target);
    EXPECT_EQ(2, u.install_type);
  }
}

namespace {

std::string read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Holds the worker inside a package's unpacking until the test opens it.
struct unpack_gate {
  std::mutex m;
  std::condition_variable cv;
  bool entered = false;
  bool open = false;
};
unpack_gate gate;

bool gated_extract(const std::u16string& archive, const std::u16string& folder) {
  {
    std::unique_lock<std::mutex> l(gate.m);
    gate.entered = true;
    gate.cv.notify_all();
    gate.cv.wait(l, [] { return gate.open; });
  }
  return desktop::ExtractAll(archive, folder);
}

std::string fake_installer_bytes() {
  const fs::path dir = fs::u8path(qv::text::wide_to_utf8(executable_directory()));
  for (const char* name : {"fake_installer.exe", "fake_installer"}) {
    if (fs::exists(dir / name)) return read_file(dir / name);
  }
  return {};
}

class DriverManagerTest : public LoopTest, public DriverInstallCallback {
 protected:
  void SetUp() override {
    LoopTest::SetUp();
    hostbase::SetArchiveExtractor(&desktop::ExtractAll);
    tmp = std::make_unique<tiv_test::TempDir>();
    dir = tmp->path();
    log = dir / "installer.log";
    hold = dir / "hold";
    set_env("FAKE_INSTALLER_LOG", log.u8string());
    set_env("FAKE_INSTALLER_HOLD", hold.u8string());
    installer = fake_installer_bytes();
    ASSERT_FALSE(installer.empty());
    manager = std::make_unique<CDriverManager>();
    ASSERT_EQ(1, manager->Init());
  }
  void TearDown() override {
    std::remove(hold.u8string().c_str());
    manager.reset();
    hostbase::SetArchiveExtractor(nullptr);
    tmp.reset();
    LoopTest::TearDown();
  }

  void OnDriverResult(std::int32_t id, std::int32_t code) override {
    results.emplace_back(id, code);
    qv::loop::post_quit(0);
  }

  // A package of its own (unique name, so its working folder is fresh) holding the files.
  std::wstring package(const std::vector<std::pair<std::string, std::string>>& files) {
    static int n = 0;
    const fs::path p = dir / ("pkg_" + std::to_string(process_number()) + "_" +
                              std::to_string(++n) + ".zip");
    EXPECT_TRUE(write_zip(p.u8string(), files));
    return qv::text::utf8_to_wide(p.u8string());
  }

  std::int32_t add(const std::wstring& pkg, const std::wstring& target, std::int32_t type,
                   const std::vector<std::wstring>& args = {}) {
    return manager->AddTask(this, pkg, target, type, args);
  }

  std::vector<std::string> log_lines() {
    std::vector<std::string> lines;
    std::ifstream f(log);
    for (std::string l; std::getline(f, l);) lines.push_back(l);
    return lines;
  }

  bool wait_log(std::size_t n) {
    for (int i = 0; i < 3000 && log_lines().size() < n; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return log_lines().size() >= n;
  }

  void hold_installers() { std::ofstream(hold) << "x"; }
  void release_installers() { ASSERT_TRUE(release_hold(hold)); }

  bool wait_results(std::size_t n) {
    return run_until([&] { return results.size() >= n; });
  }

  std::unique_ptr<tiv_test::TempDir> tmp;
  fs::path dir, log, hold;
  std::string installer;
  std::unique_ptr<CDriverManager> manager;
  std::vector<std::pair<std::int32_t, std::int32_t>> results;
};

}  // namespace

TEST_F(DriverManagerTest, RunsTheUnpackedTargetAndReportsItsExitCodeOnce) {
  const auto id = add(package({{"bin/setup_7.exe", installer}}), L"bin\\setup_7.exe", 1);
  ASSERT_TRUE(wait_results(1));
  EXPECT_EQ((std::vector<std::pair<std::int32_t, std::int32_t>>{{id, 7}}), results);
  EXPECT_EQ((std::vector<std::string>{"start setup_7", "end setup_7"}), log_lines());
  // Reported once, never run again.
  EXPECT_FALSE(run_until([&] { return results.size() > 1; }, 300));
  EXPECT_EQ(2u, log_lines().size());
}

// Both installers wait while the hold is there. The log is written by the installers themselves:
// "start b_2" behind "end a_1" shows that b began only after a had ended.
TEST_F(DriverManagerTest, TasksRunOneAtATimeInIdOrder) {
  hold_installers();
  const auto a = add(package({{"a_1.exe", installer}}), L"a_1.exe", 1);
  const auto b = add(package({{"b_2.exe", installer}}), L"b_2.exe", 1);
  ASSERT_TRUE(wait_log(1));
  release_installers();
  ASSERT_TRUE(wait_results(2));
  EXPECT_EQ((std::vector<std::pair<std::int32_t, std::int32_t>>{{a, 1}, {b, 2}}), results);
  EXPECT_EQ((std::vector<std::string>{"start a_1", "end a_1", "start b_2", "end b_2"}),
            log_lines());
}

TEST_F(DriverManagerTest, CancelledRunningTaskGoesOnWithoutAResult) {
  hold_installers();
  const auto a = add(package({{"a_3.exe", installer}}), L"a_3.exe", 1);
  ASSERT_TRUE(wait_log(1));
  manager->CancelTask(a);
  const auto b = add(package({{"b_4.exe", installer}}), L"b_4.exe", 1);
  release_installers();
  ASSERT_TRUE(wait_results(1));
  EXPECT_EQ((std::vector<std::pair<std::int32_t, std::int32_t>>{{b, 4}}), results);
  // The cancelled installer was not stopped.
  EXPECT_EQ((std::vector<std::string>{"start a_3", "end a_3", "start b_4", "end b_4"}),
            log_lines());
}

TEST_F(DriverManagerTest, DriverInstallerGetsTheInfAndItsArguments) {
  const auto id = add(package({{"android_winusb.inf", "[Version]\r\n"}}), L"android_winusb.inf",
                      2, {L"/SW", L"/LM"});
  ASSERT_TRUE(wait_results(1));
  EXPECT_EQ((std::vector<std::pair<std::int32_t, std::int32_t>>{{id, 0}}), results);
  if (has_windows_installers()) {
    // The fake "dpinst" beside the test binary records how the arguments arrived.
    const std::vector<std::string> lines = log_lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(0u, lines[0].find("start dpinst"));
    EXPECT_NE(std::string::npos, lines[0].find("\\android_winusb.inf][/SW][/LM]")) << lines[0];
  } else {
    EXPECT_TRUE(log_lines().empty());  // no installer here: nothing started, code 0
  }
}

TEST_F(DriverManagerTest, WhatCannotRunReportsZero) {
  const auto missing = add(qv::text::utf8_to_wide((dir / "missing.zip").u8string()), L"x_5.exe", 1);
  const auto unknown = add(package({{"y_6.exe", installer}}), L"y_6.exe", 9);
  const auto absent = add(package({{"y_6.exe", installer}}), L"not_there_8.exe", 1);
  ASSERT_TRUE(wait_results(3));
  EXPECT_EQ((std::vector<std::pair<std::int32_t, std::int32_t>>{{missing, 0}, {unknown, 0},
                                                                  {absent, 0}}),
            results);
  EXPECT_TRUE(log_lines().empty());
}

TEST_F(DriverManagerTest, UnInitEndsTheRunningInstallerAndDeliversNothing) {
  hold_installers();
  add(package({{"a_3.exe", installer}}), L"a_3.exe", 1);
  add(package({{"b_4.exe", installer}}), L"b_4.exe", 1);
  ASSERT_TRUE(wait_log(1));
  manager->UnInit();
  // Nothing is posted once UnInit has returned; what was posted before is delivered here.
  ASSERT_TRUE(deliver_posted());
  EXPECT_TRUE(results.empty());
  manager.reset();  // the worker has left once this returns
  EXPECT_EQ((std::vector<std::string>{"start a_3"}), log_lines());
}

// UnInit while the worker unpacks a package: it returns at once (it runs on the UI thread), and
// the worker, once done unpacking, starts no installer.
TEST_F(DriverManagerTest, UnInitDuringUnpackingReturnsAtOnceAndStartsNothing) {
  {
    std::lock_guard<std::mutex> l(gate.m);
    gate.entered = gate.open = false;
  }
  hostbase::SetArchiveExtractor(&gated_extract);
  const std::wstring pkg = package({{"a_3.exe", installer}});
  add(pkg, L"a_3.exe", 1);
  {
    std::unique_lock<std::mutex> l(gate.m);
    ASSERT_TRUE(gate.cv.wait_for(l, std::chrono::seconds(60), [] { return gate.entered; }));
  }
  // Should UnInit wait for the worker, a watchdog opens the gate (a hang guard only).
  bool watchdog_opened = false;
  bool returned = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> l(gate.m);
    if (!gate.cv.wait_for(l, std::chrono::seconds(60), [&] { return returned; })) {
      watchdog_opened = true;
      gate.open = true;
      gate.cv.notify_all();
    }
  });
  manager->UnInit();
  {
    std::lock_guard<std::mutex> l(gate.m);
    returned = true;
    gate.open = true;
    gate.cv.notify_all();
  }
  watchdog.join();
  EXPECT_FALSE(watchdog_opened) << "UnInit waited for the worker";
  manager.reset();  // the worker has left once this returns
  const std::wstring target =
      hostbase::GetTempDirectory() + L"driverDir\\" + PackageFolderName(pkg) + L"\\a_3.exe";
  ASSERT_TRUE(fs::exists(fs::u8path(qv::text::wide_to_utf8(qv::path::to_native(target)))))
      << "the package was unpacked";
  if (const auto mark = started_mark(target)) {
    EXPECT_FALSE(*mark) << "the installer was started";
  }
  EXPECT_TRUE(log_lines().empty());
  EXPECT_TRUE(results.empty());
}

TEST_F(DriverManagerTest, PicksTheInstallerOfThisSystem) {
  EXPECT_EQ(expected_driver_platform(), manager->platform());
  const std::wstring name = manager->platform() == 2 ? L"dpinst64.exe" : L"dpinst.exe";
  EXPECT_EQ(executable_directory() + name, manager->installer_path());
}
