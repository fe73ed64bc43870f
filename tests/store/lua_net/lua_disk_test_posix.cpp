// The disk utility answers for the file system that holds the path, not for "/".
#include "lua_host.h"

#include <sys/statvfs.h>
#include <sys/vfs.h>

using namespace http_test;
using namespace lua_host;

namespace {
constexpr long kTmpfsMagic = 0x01021994;

bool same_file_system(const char* a, const char* b) {
  struct statvfs sa {}, sb {};
  return ::statvfs(a, &sa) == 0 && ::statvfs(b, &sb) == 0 && sa.f_fsid == sb.f_fsid &&
         sa.f_blocks == sb.f_blocks;
}

double capacity_of(const char* path) {
  struct statvfs st {};
  EXPECT_EQ(0, ::statvfs(path, &st)) << path;
  return static_cast<double>(st.f_blocks) * static_cast<double>(st.f_frsize);
}
}  // namespace

TEST(LuaDiskUtility, AnswersForTheFileSystemThatHoldsThePath) {
  struct statfs shm {};
  if (::statfs("/dev/shm", &shm) != 0 || shm.f_type != kTmpfsMagic ||
      same_file_system("/dev/shm", "/"))
    GTEST_SKIP() << "no tmpfs at /dev/shm apart from /";
  ASSERT_EQ("", run(kPrelude));
  const struct {
    const char* path;     // as the UI package passes it
    const char* holder;   // the folder whose file system must answer
  } cases[] = {
      {"/dev/shm", "/dev/shm"},
      {"/dev/shm/", "/dev/shm"},
      {"\\dev\\shm\\no\\such\\file.bin", "/dev/shm"},  // nearest existing parent
      {"/", "/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    set_global("P", c.path);
    set_global("EXPECTED", std::to_string(capacity_of(c.holder)));
    EXPECT_EQ("", run(R"(
      local total = disk:get_partition_capacity(P)
      check(total == tonumber(EXPECTED), "capacity " .. total .. ", expected " .. EXPECTED)
      local free = disk:get_free_partition_space(P)
      check(free >= 0 and free <= total, "free " .. free)
    )"));
  }
  set_global("P", "\\dev\\shm\\no\\such\\file.bin");
  EXPECT_EQ("", run(R"(check(disk:get_disk_format(P) == "tmpfs", disk:get_disk_format(P)))"));
}
