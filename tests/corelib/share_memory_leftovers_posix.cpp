// POSIX names outlive processes; a block left behind by processes that ended must behave as if
// it were gone, as it is on Windows.
#include <gtest/gtest.h>

#include "qv/share_memory.h"

#include <chrono>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using qv::win32::multiprocess::share_memory;

namespace {

std::string block_name(const char* tag) {
  return std::string("TivorelTestPx") + tag + std::to_string(getpid()) + "_" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000);
}

struct counting_block : share_memory {
  int created = 0;
  void on_created(void* data, std::uint32_t size) override {
    ++created;
    share_memory::on_created(data, size);
  }
};

// Runs in a child process that ends without closing the block.
void child_leaves_block(const std::string& name, bool keep_locked) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    auto* b = new share_memory;  // never closed: the process just ends
    if (!b->open(name.c_str(), false)) _exit(2);
    std::memcpy(b->data(), "stale", 5);
    if (keep_locked) b->lock();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace

TEST(ShareMemoryPosix, BlockOfEndedProcessCountsAsAbsent) {
  const auto name = block_name("Left");
  child_leaves_block(name, false);
  share_memory opener;
  EXPECT_FALSE(opener.open(name.c_str(), true));
  counting_block creator;
  ASSERT_TRUE(creator.open(name.c_str(), false));
  EXPECT_EQ(creator.created, 1);
  EXPECT_EQ(static_cast<unsigned char*>(creator.data())[0], 0);
}

TEST(ShareMemoryPosix, MutexLeftHeldByEndedProcessIsReclaimedOnCreate) {
  const auto name = block_name("Held");
  child_leaves_block(name, true);
  counting_block creator;  // waits out the 10 s bound, then finds nobody holding the block
  ASSERT_TRUE(creator.open(name.c_str(), false));
  EXPECT_EQ(creator.created, 1);
  EXPECT_EQ(static_cast<unsigned char*>(creator.data())[0], 0);
  share_memory opener;
  EXPECT_TRUE(opener.open(name.c_str(), true));
}
