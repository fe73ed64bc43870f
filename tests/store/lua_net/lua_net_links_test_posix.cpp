// Links and names holding "\" on POSIX systems (the Windows build's runtime library cannot make
// links, and "\" separates there).
#include "hostile_tree_posix.h"
#include "lua_host.h"

using namespace http_test;
using namespace lua_host;

TEST(LuaDirUtility, DeletingATreeNeverFollowsLinksOutOfIt) {
  const tiv_test::TempDir scratch;
  const fs::path root = scratch.path();
  fs::create_directories(root / "outside");
  write_file(root / "outside" / "precious.txt", "keep");
  fs::create_directories(root / "tree");
  fs::create_directory_symlink(root / "outside", root / "tree" / "link");
  fs::create_symlink(root / "outside" / "precious.txt", root / "tree" / "file_link");
  set_global("ROOT", root.string() + "/");
  ASSERT_EQ("", run(kPrelude));
  EXPECT_EQ("", run(R"(check(dirs:delete_dir_tree(ROOT .. "tree") == true, "deleted"))"));
  EXPECT_FALSE(fs::exists(root / "tree"));
  EXPECT_EQ("keep", read_file(root / "outside" / "precious.txt"));
}

TEST(LuaDirUtility, DeletingATreeWhoseNamesHoldBackslashesChangesNothingOutsideIt) {
  const tiv_test::TempDir scratch;
  const hostile_tree::fixture f(scratch.path());
  set_global("TREE", hostile_tree::fixture::lua_text(f.tree()));
  ASSERT_EQ("", run(kPrelude));
  EXPECT_EQ("", run(R"(check(dirs:delete_dir_tree(TREE) == true, "deleted"))"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(f.tree())));
  EXPECT_EQ(f.before(), f.outside());
}

// A current folder whose name holds "\" cannot be written as Windows path text: handed to the
// Lua code, it would name another folder when it comes back.
TEST(LuaDirUtility, ACurrentFolderThatLuaCannotNameIsNotGiven) {
  const tiv_test::TempDir scratch;
  const fs::path root = scratch.path();
  fs::create_directories(root / "a" / "b");
  fs::create_directories(root / "a\\b");
  const fs::path before = fs::current_path();
  fs::current_path(root / "a\\b");
  ASSERT_EQ("", run(kPrelude));
  const std::string got = run(R"(
    local cwd = dirs:get_current_working_directory()
    check(cwd == "", "no folder: " .. cwd)
  )");
  fs::current_path(before);
  EXPECT_EQ("", got);
}
