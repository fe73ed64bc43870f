// The temporary folder on Linux, where the program keeps its logs and the files it unpacks: a
// folder of this user alone, which no other local user can plant files in or point elsewhere.
#include <gtest/gtest.h>

#include "dir_tree_fixture.h"
#include "hostbase/path_manager.h"

#include "qv/text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using hostbase::test::scratch;

// An environment variable set (or unset) for the life of the object.
class env_override {
 public:
  env_override(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~env_override() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  env_override(const env_override&) = delete;
  env_override& operator=(const env_override&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string own_name() { return "Tivorel-" + std::to_string(::geteuid()); }

struct stat lstat_of(const fs::path& p) {
  struct stat st {};
  ::lstat(p.c_str(), &st);
  return st;
}

}  // namespace

TEST(TempFolderPosix, AFolderOfThisUserAloneAndNeverOneThatAnotherCouldHavePlanted) {
  const struct temp_case {
    const char* name;
    std::optional<std::string> tmpdir;  // relative to the scratch folder
    std::optional<std::string> runtime;
    // Puts something in the way before the folder is asked for.
    std::function<void(const fs::path& root)> prepare;
    std::string expected;  // relative to the scratch folder; absolute when it starts with "/"
    const char* logged;    // what standard error must say, or null
  } cases[] = {
      {"TMPDIR: its own folder below it", "t", "run", nullptr, "t/" + own_name(), nullptr},
      {"TMPDIR with trailing slashes", "t//", "run", nullptr, "t/" + own_name(), nullptr},
      {"no TMPDIR: the runtime folder", std::nullopt, "run", nullptr, "run/Tivorel", nullptr},
      {"a link in the place is neither used nor followed", "t", "run",
       [](const fs::path& root) { fs::create_directory_symlink(root / "elsewhere", root / "t" / own_name()); },
       "run/Tivorel", "is a link"},
      {"a file in the place", "t", "run",
       [](const fs::path& root) { std::ofstream(root / "t" / own_name()) << "x"; }, "run/Tivorel",
       "not a folder"},
      {"a folder of this user with a loose mode is narrowed", "t", "run",
       [](const fs::path& root) {
         fs::create_directory(root / "t" / own_name());
         ::chmod((root / "t" / own_name()).c_str(), 0777);
       },
       "t/" + own_name(), nullptr},
      {"a base whose name holds a backslash", "a\\b", "run", nullptr, "run/Tivorel", "separator"},
      {"neither: below /tmp", std::nullopt, std::nullopt, nullptr, "/tmp/" + own_name(), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scratch s;
    fs::create_directories(s.root() / "t");
    fs::create_directories(s.root() / "run");
    fs::create_directories(s.root() / "a\\b");
    fs::create_directories(s.root() / "elsewhere");
    ::chmod((s.root() / "elsewhere").c_str(), 0755);
    if (c.prepare) c.prepare(s.root());
    env_override tmpdir("TMPDIR", c.tmpdir ? std::optional<std::string>((s.root() / *c.tmpdir).string()) : std::nullopt);
    env_override runtime("XDG_RUNTIME_DIR",
                         c.runtime ? std::optional<std::string>((s.root() / *c.runtime).string()) : std::nullopt);
    testing::internal::CaptureStderr();
    const std::wstring got = hostbase::GetTempDirectory();
    const std::string said = testing::internal::GetCapturedStderr();

    const fs::path expected = c.expected[0] == '/' ? fs::path(c.expected) : s.root() / c.expected;
    std::string want = expected.string() + "/";
    for (auto& ch : want)
      if (ch == '/') ch = '\\';
    EXPECT_EQ(qv::text::utf8_to_wide(want), got);
    const struct stat st = lstat_of(expected);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(::geteuid(), st.st_uid);
    EXPECT_EQ(0700u, st.st_mode & 07777u);
    if (c.logged) {
      EXPECT_NE(said.find(c.logged), std::string::npos) << said;
    } else {
      EXPECT_EQ("", said);
    }
    // What a link pointed to is left as it was.
    EXPECT_TRUE(fs::is_empty(s.root() / "elsewhere"));
    EXPECT_EQ(0755u, lstat_of(s.root() / "elsewhere").st_mode & 07777u);
  }
}

// Another user's folder in the place: only the superuser can make one here.
TEST(TempFolderPosix, AnotherUsersFolderIsNotUsed) {
  if (::geteuid() != 0) GTEST_SKIP() << "making a folder of another user needs the superuser";
  scratch s;
  const fs::path theirs = s.root() / "t" / own_name();
  fs::create_directories(theirs);
  ::chmod(theirs.c_str(), 0777);
  ASSERT_EQ(0, ::chown(theirs.c_str(), 65534, 65534));
  fs::create_directories(s.root() / "run");
  env_override tmpdir("TMPDIR", (s.root() / "t").string());
  env_override runtime("XDG_RUNTIME_DIR", (s.root() / "run").string());
  testing::internal::CaptureStderr();
  const std::wstring got = hostbase::GetTempDirectory();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(scratch::text(s.root() / "run" / "Tivorel") + L"\\", got);
  EXPECT_NE(said.find("belongs to user 65534"), std::string::npos) << said;
  EXPECT_EQ(0777u, lstat_of(theirs).st_mode & 07777u) << "another user's folder is left alone";
}

// Each place that does not fit is passed over, with a log line that says why.
TEST(TempFolderPosix, EveryPlaceIsTriedInTurn) {
  scratch s;
  fs::create_directories(s.root() / "t");
  fs::create_directory_symlink(s.root(), s.root() / "t" / own_name());
  std::ofstream(s.root() / "Tivorel") << "a file";
  env_override tmpdir("TMPDIR", (s.root() / "t").string());
  env_override runtime("XDG_RUNTIME_DIR", s.root().string());
  testing::internal::CaptureStderr();
  const std::wstring got = hostbase::GetTempDirectory();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(qv::text::utf8_to_wide("\\tmp\\" + own_name() + "\\"), got);
  EXPECT_NE(said.find("is a link"), std::string::npos) << said;
  EXPECT_NE(said.find("not a folder"), std::string::npos) << said;
}
