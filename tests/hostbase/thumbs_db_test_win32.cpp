// The shell's thumbnail cache keeps its protection: a read-only "Thumbs.db" is not forced.
#include <gtest/gtest.h>

#include "dir_tree_fixture.h"
#include "hostbase/dir_tree.h"
#include "hostbase/thread_pool.h"

using namespace hostbase;
using namespace hostbase::test;

TEST(DeleteDirTree, AReadOnlyThumbsDbStaysAndSoDoesItsFolder) {
  scratch s;
  s.file("tree/other.txt");
  make_read_only(s.file("tree/sub/THUMBS.db"));
  make_read_only(s.file("tree/plain_read_only.txt"));
  EXPECT_FALSE(DeleteDirTree(scratch::text(s.root() / "tree")));
  EXPECT_TRUE(fs::exists(s.root() / "tree" / "sub" / "THUMBS.db"));
  EXPECT_FALSE(fs::exists(s.root() / "tree" / "other.txt"));
  EXPECT_FALSE(fs::exists(s.root() / "tree" / "plain_read_only.txt"));
}
