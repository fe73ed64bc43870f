// Deleting a tree whose names hold "\" or whose links lead out of it: everything inside goes,
// nothing outside changes.
#include <gtest/gtest.h>

#include "dir_tree_fixture.h"
#include "hostbase/dir_tree.h"
#include "hostile_tree_posix.h"

using namespace hostbase;
namespace fs = std::filesystem;

TEST(DeleteDirTreePosix, NamesAndLinksThatPointOutsideDeleteOnlyTheTree) {
  for (const bool slash : {false, true}) {
    test::scratch s;
    const hostile_tree::fixture f(s.root());
    std::wstring path = test::scratch::text(f.tree());
    if (slash)
      for (auto& c : path)
        if (c == L'\\') c = L'/';
    EXPECT_TRUE(DeleteDirTree(path)) << slash;
    EXPECT_FALSE(fs::exists(fs::symlink_status(f.tree()))) << slash;
    EXPECT_EQ(f.before(), f.outside()) << slash;
  }
}
