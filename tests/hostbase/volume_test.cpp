#include <gtest/gtest.h>

#include "dir_tree_fixture.h"
#include "hostbase/volume.h"

#include <filesystem>

namespace {

using hostbase::test::scratch;
namespace fs = std::filesystem;

// Whatever part of the path exists yet, the volume that holds it answers.
TEST(Volume, APathIsAnsweredForByTheVolumeThatHoldsIt) {
  scratch s;
  s.file("file.txt");
  const std::uintmax_t capacity = fs::space(s.root()).capacity;
  const struct {
    const char* name;
    std::wstring path;
  } cases[] = {
      {"the folder", scratch::text(s.root())},
      {"a file in it", scratch::text(s.root() / "file.txt")},
      {"a trailing separator", scratch::text(s.root()) + L"\\"},
      {"a folder still to be created", scratch::text(s.root() / "missing" / "deeper")},
      {"forward slashes", (s.root() / "missing").generic_wstring()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint64_t total = 0, available = 0;
    ASSERT_TRUE(hostbase::VolumeSpace(c.path, total, available));
    EXPECT_EQ(total, capacity);
    EXPECT_LE(available, total);
    EXPECT_FALSE(hostbase::VolumeFormat(c.path).empty());
  }
  std::uint64_t total = 0, available = 0;
  EXPECT_FALSE(hostbase::VolumeSpace(L"", total, available));
  EXPECT_EQ(hostbase::VolumeFormat(L""), L"");
}

}  // namespace
