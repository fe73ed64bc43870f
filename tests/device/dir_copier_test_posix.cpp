// Read failures in the middle of a copy, provoked with a file that opens but cannot be read.
#include <gtest/gtest.h>

#include "device/file_transfer.h"

#include "loop_helpers.h"
#include "transfer_test_support.h"

using namespace device;
using namespace transfer_test;

TEST(DirCopierPosix, AReadFailureEndsWith3000AndLeavesNoShortCopy) {
  temp_folder t;
  dir_copier copier;
  copier.init();
  std::vector<std::int32_t> statuses;
  // /proc/self/mem opens as a regular file, and reading at offset 0 fails (nothing is mapped).
  copier.copy(t.path().string(), "/proc/self/mem", [&](const transfer_report& r) { statuses.push_back(r.status); });
  ASSERT_TRUE(device_test::run_until([&] { return !statuses.empty(); }));
  EXPECT_EQ(std::vector<std::int32_t>{transfer_status::kLocalFile}, statuses);
  EXPECT_FALSE(fs::exists(t.path() / "mem"));
}
