// The adapter source that reads "ipconfig /all" starts the system's own ipconfig, never a program
// of that name in the test program's folder (the build puts one there) or the current folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "network_os.h"

namespace {

namespace fs = std::filesystem;

fs::path program_folder() {
  wchar_t buf[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
  return fs::path(std::wstring(buf, n)).parent_path();
}

TEST(IpconfigSource, StartsTheSystemsOwnIpconfig) {
  const fs::path planted = program_folder() / "ipconfig.exe";
  ASSERT_TRUE(fs::exists(planted)) << "the build puts a planted copy beside the tests";
  const fs::path work = fs::temp_directory_path() / ("tiv_ipconfig_" + std::to_string(::GetCurrentProcessId()));
  fs::create_directories(work);
  fs::copy_file(planted, work / "ipconfig.exe", fs::copy_options::overwrite_existing);
  const fs::path mark = work / "started";
  ::SetEnvironmentVariableW(L"TIVOREL_PLANTED_MARK", mark.wstring().c_str());
  wchar_t old_dir[MAX_PATH];
  const DWORD old_len = ::GetCurrentDirectoryW(MAX_PATH, old_dir);
  ASSERT_TRUE(::SetCurrentDirectoryW(work.wstring().c_str()));

  const std::vector<store::adapter_source> sources = store::os::adapter_sources();
  ASSERT_EQ(3u, sources.size());
  std::vector<store::adapter_record> found;
  sources[2](found);

  ::SetCurrentDirectoryW(std::wstring(old_dir, old_len).c_str());
  ::SetEnvironmentVariableW(L"TIVOREL_PLANTED_MARK", nullptr);
  EXPECT_FALSE(fs::exists(mark)) << "a planted ipconfig was started";
  for (const auto& r : found) EXPECT_NE(L"Planted adapter", r.description);
  std::error_code ec;
  fs::remove_all(work, ec);
}

}  // namespace
