// Writing an INI file on Linux: the file is replaced whole, and it stays the file it was: its
// mode, a link that names it, and anything beside it that happens to carry a temporary name.
#include <gtest/gtest.h>

#include "hostbase/profile.h"

#include "qv/text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return "<missing>";
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

unsigned mode_of(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0u;
}

bool write_key(const fs::path& file, const char* value) {
  return hostbase::WriteProfileEntry(L"main", L"key", qv::text::utf8_to_wide(value),
                                     qv::text::utf8_to_wide(file.string()));
}

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

class ProfileWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("tiv_profile_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = dir_ / "config.ini";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  fs::path dir_;
  fs::path file_;
};

TEST_F(ProfileWrite, KeepsTheModeOfTheFile) {
  for (unsigned mode : {0600u, 0640u, 0755u}) {
    SCOPED_TRACE(mode);
    write_file(file_, "[main]\nkey=old\n");
    ASSERT_EQ(::chmod(file_.c_str(), mode), 0);
    ASSERT_TRUE(write_key(file_, "new"));
    EXPECT_EQ(read_file(file_), "[main]\nkey=new\n");
    EXPECT_EQ(mode_of(file_), mode);
    fs::remove(file_);
  }
  // A new file gets the mode any new file of this process gets.
  const mode_t mask = ::umask(022);
  ASSERT_TRUE(write_key(file_, "v"));
  ::umask(mask);
  EXPECT_EQ(mode_of(file_), 0644u);
}

TEST_F(ProfileWrite, WritesThroughLinksToTheirTarget) {
  fs::create_directories(dir_ / "real");
  write_file(dir_ / "real" / "config.ini", "[main]\nkey=old\n");
  const struct {
    const char* name;
    std::function<void()> make;
    fs::path target;
  } cases[] = {
      {"a relative link", [&] { fs::create_symlink("real/config.ini", file_); },
       dir_ / "real" / "config.ini"},
      {"a link to a link", [&] {
         fs::create_symlink(dir_ / "real" / "config.ini", dir_ / "real" / "hop.ini");
         fs::create_symlink("real/hop.ini", file_);
       },
       dir_ / "real" / "config.ini"},
      {"a link to a file not made yet", [&] { fs::create_symlink("real/later.ini", file_); },
       dir_ / "real" / "later.ini"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(file_);
    c.make();
    ASSERT_TRUE(write_key(file_, c.name));
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_EQ(qv::text::wide_to_utf8(hostbase::ReadProfileString(
                  L"main", L"key", L"", qv::text::utf8_to_wide(c.target.string()), 100)),
              c.name);
  }
  EXPECT_EQ(names_in(dir_ / "real"),
            (std::set<std::string>{"config.ini", "hop.ini", "later.ini"}));
}

TEST_F(ProfileWrite, LeavesWhatCarriesATemporaryNameAlone) {
  const fs::path victim = dir_ / "victim.txt";
  const fs::path tmp = dir_ / "config.ini.tmp";
  const struct {
    const char* name;
    std::function<void()> make;
    std::function<void()> check;
  } cases[] = {
      {"a link to another file", [&] { fs::create_symlink(victim, tmp); },
       [&] {
         EXPECT_TRUE(fs::is_symlink(tmp));
         EXPECT_EQ(read_file(victim), "keep");
       }},
      {"a folder", [&] { fs::create_directory(tmp); }, [&] { EXPECT_TRUE(fs::is_directory(tmp)); }},
      {"a file", [&] { write_file(tmp, "someone's"); },
       [&] { EXPECT_EQ(read_file(tmp), "someone's"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(tmp);
    write_file(victim, "keep");
    write_file(file_, "[main]\nkey=old\n");
    c.make();
    ASSERT_TRUE(write_key(file_, "new"));
    EXPECT_FALSE(fs::is_symlink(file_));
    EXPECT_EQ(read_file(file_), "[main]\nkey=new\n");
    c.check();
    // Nothing else is left beside the file.
    EXPECT_EQ(names_in(dir_), (std::set<std::string>{"config.ini", "config.ini.tmp", "victim.txt"}));
  }
}

}  // namespace
