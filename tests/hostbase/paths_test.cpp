#include <gtest/gtest.h>

#include "hostbase/path_manager.h"
#include "test_env.h"

#include "qv/path.h"
#include "qv/text.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
fs::path native(const std::wstring& windows_text) {
  return fs::u8path(qv::text::wide_to_utf8(qv::path::to_native(windows_text)));
}
}  // namespace

TEST(PathManager, DirectoriesHangOffTheProgramDirectory) {
  hostbase::CPathManager pm;
  const std::wstring exe = pm.GetExeDir();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.back(), L'\\');
  EXPECT_EQ(exe.find(L'/'), std::wstring::npos) << "Windows path text";
  EXPECT_TRUE(fs::is_directory(native(exe)));
  EXPECT_EQ(pm.GetSearchDir(), exe);
  EXPECT_EQ(pm.GetProfileDir(), exe + L"Profiles\\");
  EXPECT_EQ(pm.GetXarDir(), exe + L"xar");
  EXPECT_EQ(hostbase::GetModuleDir(), exe);
  const std::wstring program = hostbase::GetExePath();
  EXPECT_EQ(hostbase::DirectoryOf(program), exe);
  EXPECT_TRUE(fs::is_regular_file(native(program))) << "the program's own file";
  EXPECT_FALSE(fs::exists(native(pm.GetProfileDir()))) << "the profile folder is not created";
}

// A program folder the user cannot write (the Linux package's) gets its profile folder named
// from outside; the other folders stay with the program.
TEST(PathManager, ProfileDirIsTheNamedFolderWhenOneIsNamed) {
  const fs::path own = fs::temp_directory_path() / "tivorel own profile";
  const std::string with_end = (own / "").u8string();
  const struct {
    std::string value;
    bool named;
  } cases[] = {{own.u8string(), true}, {with_end, true}, {"", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    set_test_env(hostbase::kProfileDirVariable, c.value.c_str());
    hostbase::CPathManager pm;
    const std::wstring profile = pm.GetProfileDir();
    if (c.named) {
      EXPECT_EQ(native(profile), own / "");
      EXPECT_NE(profile.substr(profile.size() - 2), L"\\\\") << "one separator at the end";
      EXPECT_FALSE(fs::exists(own)) << "the profile folder is not created";
    } else {
      EXPECT_EQ(profile, pm.GetExeDir() + L"Profiles\\");
    }
    EXPECT_EQ(pm.GetXarDir(), pm.GetExeDir() + L"xar");
  }
  set_test_env(hostbase::kProfileDirVariable, "");
}

TEST(PathManager, TempDirIsCreatedAsWindowsPathText) {
  hostbase::CPathManager pm;
  const std::wstring t = pm.GetTempDir();
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.back(), L'\\');
  EXPECT_EQ(t.find(L'/'), std::wstring::npos) << "Windows path text";
  EXPECT_TRUE(fs::is_directory(native(t)));
  EXPECT_EQ(hostbase::GetTempDirectory(), t);
}

TEST(PathManager, DirectoryOfNeedsASeparator) {
  EXPECT_EQ(hostbase::DirectoryOf(L"a/b\\c.txt"), L"a/b\\");
  EXPECT_EQ(hostbase::DirectoryOf(L"c:\\x/"), L"c:\\x/");
  EXPECT_EQ(hostbase::DirectoryOf(L"no-separator"), L"");
  EXPECT_EQ(hostbase::GetPathLastError(), hostbase::kErrorInvalidArgument);
}

TEST(PathManager, DataDirectoriesEndWithBackslash) {
  const std::wstring user = hostbase::GetAppDataDir();
  if (!user.empty()) {  // empty only when the system has no such folder
    EXPECT_EQ(user.substr(user.size() - 9), L"\\Tivorel\\");
    EXPECT_TRUE(fs::is_directory(native(user)));
  }
}

TEST(AppVersion, ReadFromTheProfileWithDefaultAndLimit) {
  const fs::path profiles = native(hostbase::GetModuleDir() + L"Profiles");
  ASSERT_FALSE(fs::exists(profiles));
  EXPECT_EQ(hostbase::ReadAppVersion(), L"1.0");
  fs::create_directories(profiles);
  std::ofstream(profiles / "config.ini") << "[Basic]\r\nAPPVER = 1.2.3.4567890\r\n";
  EXPECT_EQ(hostbase::ReadAppVersion(), L"1.2.3.456");
  std::ofstream(profiles / "config.ini") << "[basic]\r\nother=1\r\n";
  EXPECT_EQ(hostbase::ReadAppVersion(), L"1.0");
  fs::remove_all(profiles);
}
