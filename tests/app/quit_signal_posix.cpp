// On POSIX systems Ctrl-C and SIGTERM post the quit message: the host leaves its loop and shuts
// down in order, closing its shared blocks.
#include <gtest/gtest.h>

#include "app/startup.h"
#include "test_env.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

bool block_exists(const char* name) {
  qv::win32::multiprocess::share_memory b;
  return b.open(name, true);
}

// Waits for the child to end (up to 20 s); its exit status, or -1 when it did not end normally.
int wait_exit(pid_t pid) {
  for (int i = 0; i < 200; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// The host copied into a program folder of its own whose package only waits: the default
// package would start ADB commands, whose children may still hold the shared blocks when the
// host is gone.
struct idle_program {
  std::filesystem::path dir;
  std::string host;
  idle_program() {
    char pattern[] = "/tmp/tivorel_quitsig_XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir = pattern;
    std::filesystem::create_directories(dir / "xar");
    std::ofstream(dir / "xar" / "onload.lua") << "-- waits for the quit message\n";
    const std::filesystem::path target = dir / "tivorel";
    std::error_code ec;
    std::filesystem::copy_file(TIVOREL_HOST_PATH, target, ec);
    if (ec) return;
    std::filesystem::permissions(target, std::filesystem::perms::owner_all, ec);
    if (!ec) host = target.string();
  }
  ~idle_program() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
};

}  // namespace

TEST(QuitSignal, InterruptAndTerminateShutTheHostDownInOrder) {
  const idle_program program;
  ASSERT_FALSE(program.host.empty()) << "the host could not be copied";
  for (int sig : {SIGINT, SIGTERM}) {
    const std::string scope =
        "sigtest" + std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
    set_test_env("TIVOREL_OBJECT_SCOPE", scope.c_str());
    std::string path = program.host;
    char* argv[] = {&path[0], nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);
    bool up = false;
    for (int i = 0; i < 200 && !up; ++i) {
      up = block_exists(app::kInstanceBlockName) && block_exists(app::kAdbBlockName);
      if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(up) << "the host did not come up";
    // The package is loaded once the loop runs; a signal that comes earlier waits in the loop.
    ASSERT_EQ(kill(pid, sig), 0);
    EXPECT_EQ(wait_exit(pid), 0) << "signal " << sig;
    EXPECT_FALSE(block_exists(app::kInstanceBlockName)) << "closed at shutdown";
    EXPECT_FALSE(block_exists(app::kAdbBlockName)) << "closed at shutdown";
    set_test_env("TIVOREL_OBJECT_SCOPE", "");
  }
}
