// "Win32Shell.Object":Rename on Linux never replaces a target, not even one that appears between
// any check and the call that moves: the seam puts it there at that very moment. Each case runs
// with the system's no-replace rename and with the fallback for file systems without one.
#include "shell_lua.h"
#include "shell_os_posix.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

namespace {

namespace fs = std::filesystem;
using tiv_test_files::ReadFile;
using tiv_test_files::WriteFile;

std::string lua_path(const fs::path& p) { return "[[" + p.string() + "]]"; }

void rename_from_lua(const fs::path& from, const fs::path& to) {
  shell_test::run(shell_test::obj() + "o:Rename(" + lua_path(from) + ", " + lua_path(to) +
                  ") result = ''");
}

// What the test puts at the target just before the move; the hook runs once.
std::function<void(const fs::path&)> g_plant;
void plant_once(const std::string& target) {
  if (!g_plant) return;
  auto plant = std::move(g_plant);
  g_plant = nullptr;
  plant(target);
}

class RenameRace : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    desktop::os::testing::no_atomic_rename = GetParam();
    desktop::os::testing::before_move = plant_once;
    root_ = tmp_.path();
    make_sources(root_);
  }
  // dir/src.txt and dir/srcdir/inner.txt.
  static void make_sources(const fs::path& dir) {
    fs::create_directories(dir / "srcdir");
    WriteFile(dir / "src.txt", "source");
    WriteFile(dir / "srcdir" / "inner.txt", "inner");
  }
  void TearDown() override {
    desktop::os::testing::before_move = nullptr;
    desktop::os::testing::no_atomic_rename = false;
    g_plant = nullptr;
  }

  tiv_test_files::TempDir tmp_;
  fs::path root_;
};

TEST_P(RenameRace, ATargetThatAppearsAtTheLastMomentIsKept) {
  const fs::path outside = root_ / "outside.txt";
  WriteFile(outside, "not mine");
  const struct {
    const char* name;
    const char* source;  // "src.txt" or "srcdir"
    std::function<void(const fs::path&)> plant;
    std::function<void(const fs::path&)> check;
  } cases[] = {
      {"a file over a new file", "src.txt",
       [](const fs::path& t) { WriteFile(t, "theirs"); },
       [](const fs::path& t) { EXPECT_EQ(ReadFile(t), "theirs"); }},
      {"a file over a new link", "src.txt",
       [&](const fs::path& t) { fs::create_symlink(outside, t); },
       [&](const fs::path& t) {
         EXPECT_TRUE(fs::is_symlink(t));
         EXPECT_EQ(ReadFile(outside), "not mine");
       }},
      {"a file over a new dangling link", "src.txt",
       [](const fs::path& t) { fs::create_symlink("nowhere", t); },
       [](const fs::path& t) { EXPECT_TRUE(fs::is_symlink(t)); }},
      {"a folder over a new empty folder", "srcdir",
       [](const fs::path& t) { fs::create_directory(t); },
       [](const fs::path& t) {
         EXPECT_TRUE(fs::is_directory(t));
         EXPECT_FALSE(fs::exists(t / "inner.txt"));
       }},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = root_ / ("case" + std::to_string(n++));
    make_sources(dir);
    const fs::path target = dir / "target";
    g_plant = [&](const fs::path& t) {
      EXPECT_EQ(t, target);
      c.plant(t);
    };
    rename_from_lua(dir / c.source, target);
    EXPECT_FALSE(g_plant) << "the move never reached its call";
    c.check(target);
    // The source stays where it was.
    EXPECT_EQ(ReadFile(dir / "src.txt"), "source");
    EXPECT_EQ(ReadFile(dir / "srcdir" / "inner.txt"), "inner");
  }
}

TEST_P(RenameRace, MovesFilesFoldersAndLinksWhenNothingIsInTheWay) {
  fs::create_symlink("src.txt", root_ / "link");
  rename_from_lua(root_ / "src.txt", root_ / "moved.txt");
  rename_from_lua(root_ / "srcdir", root_ / "moved");
  rename_from_lua(root_ / "link", root_ / "moved_link");
  EXPECT_EQ(ReadFile(root_ / "moved.txt"), "source");
  EXPECT_EQ(ReadFile(root_ / "moved" / "inner.txt"), "inner");
  EXPECT_EQ(fs::read_symlink(root_ / "moved_link"), "src.txt");
  EXPECT_FALSE(fs::exists(root_ / "src.txt"));
  EXPECT_FALSE(fs::exists(root_ / "srcdir"));
  EXPECT_FALSE(fs::is_symlink(root_ / "link"));
  // A missing source moves nothing and claims nothing.
  rename_from_lua(root_ / "none", root_ / "claimed");
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "claimed")));
}

INSTANTIATE_TEST_SUITE_P(Calls, RenameRace, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "LinkOrClaim" : "NoReplaceRename";
                         });

}  // namespace
