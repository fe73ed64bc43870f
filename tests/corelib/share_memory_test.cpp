// share_memory between objects of one process (each object stands for a process: separate
// handles, separate views), on both targets.
#include <gtest/gtest.h>

#include "qv/share_memory.h"
#include "test_env.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

using qv::win32::multiprocess::share_memory;

namespace {

// A unique base name per test so that runs and tests do not meet.
std::string block_name(const char* tag) {
  return std::string("TivorelTest") + tag + std::to_string(
      std::chrono::steady_clock::now().time_since_epoch().count() % 100000000);
}

struct counting_block : share_memory {
  int created = 0;
  std::uint32_t created_size = 0;
  void on_created(void* data, std::uint32_t size) override {
    ++created;
    created_size = size;
    share_memory::on_created(data, size);
  }
};

unsigned char* bytes(share_memory& b) { return static_cast<unsigned char*>(b.data()); }

}  // namespace

TEST(ShareMemory, DerivedKernelObjectNames) {
  EXPECT_EQ(share_memory::mutex_name("TivorelMulProcess"),
            "TivorelMulProcess{0552B021-385F-42ff-9575-B13473D97923}");
  EXPECT_EQ(share_memory::mapping_name("TivorelAdbCommon"),
            "TivorelAdbCommon{00D765BD-E15C-49fc-85F3-8D9175531AEF}");
}

TEST(ShareMemory, CreatorGetsOnCreatedAndZeroedBlockOfCapacity4000) {
  const auto name = block_name("Create");
  counting_block a;
  ASSERT_TRUE(a.open(name.c_str(), false));
  EXPECT_EQ(a.created, 1);
  EXPECT_EQ(a.created_size, 4000u);
  EXPECT_EQ(a.size(), 4000u);
  ASSERT_NE(a.data(), nullptr);
  for (std::uint32_t i = 0; i < a.size(); ++i) ASSERT_EQ(bytes(a)[i], 0) << i;
  // The size field itself is the 32-bit little-endian 4000 just before the data.
  const unsigned char* field = bytes(a) - 4;
  EXPECT_EQ(field[0], 0xA0);
  EXPECT_EQ(field[1], 0x0F);
  EXPECT_EQ(field[2], 0);
  EXPECT_EQ(field[3], 0);
}

TEST(ShareMemory, LaterCreatorKeepsDataSkipsOnCreatedAndRewritesSize) {
  const auto name = block_name("Join");
  counting_block first;
  ASSERT_TRUE(first.open(name.c_str(), false));
  std::memcpy(first.data(), "kept", 4);
  std::memset(bytes(first) - 4, 0x11, 4);  // a size field someone damaged

  counting_block second;
  ASSERT_TRUE(second.open(name.c_str(), false));
  EXPECT_EQ(second.created, 0);
  EXPECT_EQ(std::memcmp(second.data(), "kept", 4), 0);
  EXPECT_EQ(second.size(), 4000u);
  EXPECT_EQ(first.size(), 4000u);  // the same memory

  share_memory opener;
  ASSERT_TRUE(opener.open(name.c_str(), true));
  EXPECT_EQ(std::memcmp(opener.data(), "kept", 4), 0);
}

TEST(ShareMemory, OpenExistingFailsWithoutBlock) {
  share_memory b;
  EXPECT_FALSE(b.open(block_name("Missing").c_str(), true));
  EXPECT_FALSE(b.is_open());
  EXPECT_EQ(b.data(), nullptr);
  EXPECT_EQ(b.size(), 0u);
}

TEST(ShareMemory, RejectsBadNamesAndSecondOpen) {
  share_memory b;
  EXPECT_FALSE(b.open(nullptr, false));
  EXPECT_FALSE(b.open("", false));
  EXPECT_FALSE(b.open("", true));
  const auto name = block_name("Twice");
  ASSERT_TRUE(b.open(name.c_str(), false));
  void* view = b.data();
  EXPECT_FALSE(b.open(name.c_str(), false));
  EXPECT_FALSE(b.open(name.c_str(), true));
  EXPECT_EQ(b.data(), view);  // the failed calls left the open block alone
}

TEST(ShareMemory, CloseEndsTheBlockWithItsLastHolder) {
  const auto name = block_name("Close");
  {
    counting_block a;
    ASSERT_TRUE(a.open(name.c_str(), false));
    std::memcpy(a.data(), "old", 3);
    a.close();
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(a.size(), 0u);
    a.lock();  // closed: does nothing (and must not block)
    a.unlock();
  }
  share_memory opener;
  EXPECT_FALSE(opener.open(name.c_str(), true));
  counting_block again;
  ASSERT_TRUE(again.open(name.c_str(), false));
  EXPECT_EQ(again.created, 1);
  EXPECT_EQ(bytes(again)[0], 0);
}

TEST(ShareMemory, OpenWaitsForTheHolderOfTheLock) {
  const auto name = block_name("Wait");
  share_memory owner;
  ASSERT_TRUE(owner.open(name.c_str(), false));
  std::atomic<bool> locked{false};
  std::atomic<bool> released{false};
  // Kernel mutexes belong to threads: the holder is another thread.
  std::thread holder([&] {
    owner.lock();
    locked = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::memcpy(owner.data(), "done", 4);
    released = true;
    owner.unlock();
  });
  while (!locked) std::this_thread::yield();
  share_memory other;
  EXPECT_TRUE(other.open(name.c_str(), true));
  EXPECT_TRUE(released.load());
  EXPECT_EQ(std::memcmp(other.data(), "done", 4), 0);
  holder.join();
}

TEST(ShareMemory, ScopeFromTheEnvironmentSeparatesBlocks) {
  const auto name = block_name("Scope");
  share_memory unscoped;
  ASSERT_TRUE(unscoped.open(name.c_str(), false));
  EXPECT_EQ(share_memory::scoped_name("X"), "X");
  set_test_env("TIVOREL_OBJECT_SCOPE", "run/7 a");
  EXPECT_EQ(share_memory::scoped_name("X"), "run7a.X");
  share_memory scoped;
  EXPECT_FALSE(scoped.open(name.c_str(), true));  // the unscoped block is not visible
  counting_block created;
  EXPECT_TRUE(created.open(name.c_str(), false));
  EXPECT_EQ(created.created, 1);
  set_test_env("TIVOREL_OBJECT_SCOPE", "");
}
