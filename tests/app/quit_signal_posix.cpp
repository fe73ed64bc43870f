// On POSIX systems Ctrl-C and SIGTERM post the quit message: the host leaves its loop and shuts
// down in order, closing its shared blocks.
#include <gtest/gtest.h>

#include "app/startup.h"
#include "test_env.h"

#include <chrono>
#include <csignal>
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

}  // namespace

TEST(QuitSignal, InterruptAndTerminateShutTheHostDownInOrder) {
  for (int sig : {SIGINT, SIGTERM}) {
    const std::string scope =
        "sigtest" + std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
    set_test_env("TIVOREL_OBJECT_SCOPE", scope.c_str());
    std::string path = TIVOREL_HOST_PATH;
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
