// Deleting a folder tree: read-only content, links that must not be followed, what is refused.
#include <gtest/gtest.h>

#include "dir_tree_fixture.h"
#include "hostbase/dir_tree.h"

using namespace hostbase;
using namespace hostbase::test;

TEST(DeleteDirTree, DeletesNestedFoldersAndReadOnlyFilesInEitherSeparator) {
  for (const bool slash : {false, true}) {
    scratch s;
    s.file("tree/a.txt");
    s.file("tree/sub/deeper/b.bin", std::string(5000, 'b'));
    make_read_only(s.file("tree/sub/read_only.txt"));
    s.dir("tree/empty");
    std::wstring path = scratch::text(s.root() / "tree");
    if (slash)
      for (auto& c : path)
        if (c == L'\\') c = L'/';
    EXPECT_TRUE(DeleteDirTree(path + (slash ? L"/" : L""))) << slash;
    EXPECT_FALSE(fs::exists(s.root() / "tree")) << slash;
  }
}

TEST(DeleteDirTree, RefusesWhatIsNoFolderAndDeletesNothing) {
  scratch s;
  const fs::path file = s.file("just_a_file.txt");
  const std::wstring cases[] = {L"", scratch::text(file), scratch::text(s.root() / "missing")};
  for (const auto& path : cases) {
    clear_thread_error();
    EXPECT_FALSE(DeleteDirTree(path));
    EXPECT_EQ(kDirTreeInvalidArgument, thread_error());
  }
  EXPECT_TRUE(fs::exists(file));
}

TEST(DeleteDirTree, LinksAreRemovedWithoutTouchingWhatTheyPointTo) {
  scratch s;
  const fs::path outside = s.file("outside/keep.txt").parent_path();
  s.file("tree/a.txt");
  if (!make_dir_link(outside, s.root() / "tree" / "link")) GTEST_SKIP() << "no folder links here";
  EXPECT_TRUE(DeleteDirTree(scratch::text(s.root() / "tree")));
  EXPECT_FALSE(fs::exists(s.root() / "tree"));
  EXPECT_TRUE(fs::exists(outside / "keep.txt"));

  // A link given as the folder itself is no folder of its own.
  ASSERT_TRUE(make_dir_link(outside, s.root() / "top_link"));
  clear_thread_error();
  EXPECT_FALSE(DeleteDirTree(scratch::text(s.root() / "top_link")));
  EXPECT_EQ(kDirTreeInvalidArgument, thread_error());
  EXPECT_TRUE(fs::exists(outside / "keep.txt"));
}

TEST(DeleteEmptyDir, RemovesOnlyAnEmptyFolderWithOrWithoutTrailingSeparators) {
  scratch s;
  s.file("full/a.txt");
  s.file("plain.txt");
  const struct {
    const char* name;
    std::wstring path;
    bool removed;
  } cases[] = {
      {"empty", scratch::text(s.dir("e1")), true},
      {"trailing \\", scratch::text(s.dir("e2")) + L"\\", true},
      {"trailing / twice", fs::path(s.dir("e3")).generic_wstring() + L"//", true},
      {"not empty", scratch::text(s.root() / "full"), false},
      {"a file", scratch::text(s.root() / "plain.txt"), false},
      {"missing", scratch::text(s.root() / "missing"), false},
      {"no path", L"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DeleteEmptyDir(c.path), c.removed);
  }
  EXPECT_FALSE(fs::exists(s.root() / "e1"));
  EXPECT_FALSE(fs::exists(s.root() / "e3"));
  EXPECT_TRUE(fs::exists(s.root() / "full" / "a.txt"));
  EXPECT_TRUE(fs::exists(s.root() / "plain.txt"));
}
