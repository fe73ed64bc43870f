// Installing an update killed with SIGKILL at many points: every file of the installation is
// either its old content or its new content (or absent when it is new), never a part of it, and
// running the update again completes it.
#include <gtest/gtest.h>

#include "desktop/app_update.h"
#include "kill_points_posix.h"
#include "test_files.h"
#include "update_signing.h"

#include <filesystem>
#include <random>
#include <string>

using tiv_test_files::Entry;
using tiv_test_files::Format;
using tiv_test_files::ReadFile;
using tiv_test_files::TempDir;
using tiv_test_files::WriteFile;
namespace fs = std::filesystem;

namespace {

std::u16string Folder(const fs::path& p) { return p.u16string() + u"\\"; }

std::string Content(char c, std::size_t size) {
  std::string s(size, c);
  for (std::size_t i = 0; i < size; i += 97) s[i] = static_cast<char>('a' + (i / 97) % 26);
  return s;
}

}  // namespace

TEST(UpdateKill, EveryFileIsOldOrNewAfterKillsAtManyPoints) {
  TempDir tmp;
  const std::size_t kSize = 700 * 1024;
  const std::string old_program = Content('o', kSize), new_program = Content('n', kSize);
  const std::string old_lib = Content('p', kSize / 2), new_lib = Content('q', kSize / 2);
  const std::string added = Content('z', kSize);
  const std::string list =
      "<Update><FileList>"
      "<f src=\"bin\\tivorel.bin\" dest=\"tivorel.bin\"/>"
      "<f src=\"bin\\lib.bin\" dest=\"lib\\lib.bin\"/>"
      "<f src=\"bin\\added.bin\" dest=\"xar\\added.bin\"/>"
      "</FileList></Update>";
  const fs::path archive = tmp.path() / "update.tar";
  tiv_test_update::WriteSignedUpdate(
      archive, Format::kTar,
      {Entry("updatelist.xml", list), Entry("bin/tivorel.bin", new_program),
       Entry("bin/lib.bin", new_lib), Entry("bin/added.bin", added)});

  std::mt19937 rng(std::random_device{}());
  const unsigned seed = rng();
  rng.seed(seed);
  SCOPED_TRACE("kill seed " + std::to_string(seed));
  int kills = 0;
  for (int round = 0; round < 20 && !::testing::Test::HasFailure(); ++round) {
    TempDir install, work;
    fs::create_directories(install.path() / "lib");
    WriteFile(install.path() / "tivorel.bin", old_program);
    WriteFile(install.path() / "lib" / "lib.bin", old_lib);
    tiv_test_update::TrustTestKey(install.path());
    const auto r = tiv_test_kill::RunAndKill(
        [&](const std::function<void()>&) {
          if (!desktop::InstallUpdate(archive.u16string(), Folder(work.path()), Folder(install.path())))
            ::_exit(3);
        },
        0, rng() % 40000000);
    ASSERT_LE(r.exit_code, 0) << "the update failed in the child";
    if (r.exit_code != 0) ++kills;

    const std::string program = ReadFile(install.path() / "tivorel.bin");
    EXPECT_TRUE(program == old_program || program == new_program) << "a part of the program";
    const std::string lib = ReadFile(install.path() / "lib" / "lib.bin");
    EXPECT_TRUE(lib == old_lib || lib == new_lib) << "a part of the library";
    if (fs::exists(install.path() / "xar" / "added.bin")) {
      EXPECT_TRUE(ReadFile(install.path() / "xar" / "added.bin") == added) << "a part of a new file";
    }

    // The next start runs the update again and completes it.
    ASSERT_TRUE(desktop::InstallUpdate(archive.u16string(), Folder(work.path()), Folder(install.path())));
    EXPECT_TRUE(ReadFile(install.path() / "tivorel.bin") == new_program);
    EXPECT_TRUE(ReadFile(install.path() / "lib" / "lib.bin") == new_lib);
    EXPECT_TRUE(ReadFile(install.path() / "xar" / "added.bin") == added);
  }
  std::cout << kills << " kills inside the update" << std::endl;
}
