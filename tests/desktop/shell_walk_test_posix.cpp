// The folder walks of "Win32Shell.Object" on a tree whose names hold "\" or whose links lead
// out of it: what the Lua code gets back names only entries inside the tree, in a form that
// names the same entries when it comes back, and deleting the tree touches nothing outside.
#include "desktop/win32_shell.h"
#include "hostbase/path_manager.h"
#include "hostile_tree_posix.h"
#include "loop_deadline.h"
#include "shell_lua.h"
#include "test_files.h"

#include "qv/message_loop.h"
#include "qv/path.h"
#include "qv/text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string run(const std::string& code) { return shell_test::run(shell_test::obj() + code); }

std::string lua_path(const fs::path& p) { return "[[" + hostile_tree::fixture::lua_text(p) + "]]"; }

// What the program's log gains while it lives.
class log_tail {
 public:
  log_tail()
      : file_(qv::path::to_fs_path(qv::path::to_native(hostbase::GetTempDirectory() + L"engine.log"))) {
    std::error_code ec;
    start_ = fs::exists(file_, ec) ? fs::file_size(file_, ec) : 0;
  }
  std::string added() const {
    const std::string all = tiv_test_files::ReadFile(file_);
    return all.size() > start_ ? all.substr(start_) : std::string();
  }

 private:
  fs::path file_;
  std::uintmax_t start_ = 0;
};

class HostileTree : public ::testing::Test {
 protected:
  tiv_test_files::TempDir tmp_;
  hostile_tree::fixture f_{tmp_.path()};
};

}  // namespace

TEST_F(HostileTree, EnumFileAndExtFilesNameOnlyWhatLuaCanNameAndSkipTheRestWithALogLine) {
  std::set<std::string> walk, names;
  for (const auto& r : hostile_tree::rows()) {
    if (!r.lua_safe) continue;
    names.insert(r.name);
    switch (r.what) {
      case hostile_tree::kind::file:
      case hostile_tree::kind::file_link: walk.insert(std::string("1 ") + r.name); break;
      case hostile_tree::kind::dir_link: walk.insert(std::string("2 ") + r.name); break;
      case hostile_tree::kind::dir:
        walk.insert(std::string("2 ") + r.name);
        walk.insert(std::string("1 ") + r.name + "\\own.txt");
        break;
    }
  }
  auto joined = [](const std::set<std::string>& s) {
    std::string out;
    for (const auto& x : s) out += (out.empty() ? "" : "|") + x;
    return out;
  };
  const std::string prefix = hostile_tree::fixture::lua_text(f_.tree()) + "\\";
  log_tail log;
  EXPECT_EQ(run("local r = {} for _, v in ipairs(o:EnumFile(3, " + lua_path(f_.tree()) + ")) do "
                "  assert(v.path:sub(1, " + std::to_string(prefix.size()) + ") == [[" + prefix + "]]) "
                "  r[#r + 1] = v.type .. ' ' .. v.path:sub(" + std::to_string(prefix.size() + 1) + ") "
                "end table.sort(r) result = table.concat(r, '|')"),
            joined(walk));
  EXPECT_EQ(run("local r = o:GetExtFiles(" + lua_path(f_.tree()) + ", '*') table.sort(r) "
                "result = table.concat(r, '|')"),
            joined(names));
  const std::string added = log.added();
  for (const auto& r : hostile_tree::rows()) {
    if (r.lua_safe) continue;
    EXPECT_TRUE(added.find(r.name) != std::string::npos) << r.name << " is not in the log:\n" << added;
  }
  EXPECT_EQ(f_.before(), f_.outside());
}

// The size is the tree's own: every plain file below it, whatever its name, and nothing behind
// a link.
TEST_F(HostileTree, DirSizeCountsTheFilesOfTheTreeOnly) {
  std::uint64_t size = 0;
  for (const auto& r : hostile_tree::rows())
    if (r.what == hostile_tree::kind::file || r.what == hostile_tree::kind::dir)
      size += hostile_tree::content_of(r).size();
  EXPECT_EQ(run("result = o:GetDirSize(" + lua_path(f_.tree()) + ")"), std::to_string(size));
}

TEST_F(HostileTree, AsyncDeleteDirDeletesTheTreeAndNothingElse) {
  EXPECT_EQ(run("o:AsyncDeleteDir(" + lua_path(f_.tree()) + ", function(id, r) "
                "  deleted = r o.PostQuitMessage(0) end) result = ''"),
            "");
  {
    hostbase_test::deadline d(30000, L"TivorelShellWalkDeadline");
    qv::loop::run();
    ASSERT_FALSE(d.fired);
  }
  EXPECT_EQ(shell_test::run_lua("result = tostring(deleted)"), "0");
  EXPECT_FALSE(fs::exists(fs::symlink_status(f_.tree())));
  EXPECT_EQ(f_.before(), f_.outside());
}
