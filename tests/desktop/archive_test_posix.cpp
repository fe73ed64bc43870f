// Extraction into a folder where someone planted links: nothing is ever written through them.
#include "desktop/archive.h"
#include "test_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

namespace fs = std::filesystem;
using tiv_test_files::Entry;
using tiv_test_files::ReadFile;
using tiv_test_files::TempDir;
using tiv_test_files::TreeSnapshot;
using tiv_test_files::WriteArchive;
using tiv_test_files::WriteFile;

TEST(ArchiveLinks, NothingIsWrittenThroughAPlantedLink) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& dest, const fs::path& outside)> plant;
    std::vector<Entry> entries;
    bool extracted;          // ExtractAll's answer
    const char* file;        // below dest: a plain file holding `content` afterwards
    const char* content;
  };
  const Case cases[] = {
      {"a folder that is a link to another folder",
       [](const fs::path& d, const fs::path& o) { fs::create_directory_symlink(o, d / "sub"); },
       {{"sub/file.txt", "new"}, {"ok.txt", "ok"}}, false, "ok.txt", "ok"},
      {"a folder entry where a link to a folder is",
       [](const fs::path& d, const fs::path& o) { fs::create_directory_symlink(o, d / "sub"); },
       {{"sub/", "", AE_IFDIR}, {"sub/deeper/", "", AE_IFDIR}}, false, nullptr, nullptr},
      {"a deeper folder that is a link",
       [](const fs::path& d, const fs::path& o) {
         fs::create_directories(d / "a");
         fs::create_directory_symlink(o, d / "a" / "b");
       },
       {{"a/b/c/file.txt", "new"}}, false, nullptr, nullptr},
      {"a file that is a link to a file outside",
       [](const fs::path& d, const fs::path& o) { fs::create_symlink(o / "victim.txt", d / "file.txt"); },
       {{"file.txt", "new"}}, true, "file.txt", "new"},
      {"a file that is a dangling link",
       [](const fs::path& d, const fs::path& o) { fs::create_symlink(o / "created.txt", d / "file.txt"); },
       {{"file.txt", "new"}}, true, "file.txt", "new"},
      {"a file that is a hard link to a file outside",
       [](const fs::path& d, const fs::path& o) { fs::create_hard_link(o / "victim.txt", d / "file.txt"); },
       {{"file.txt", "new"}}, true, "file.txt", "new"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path dest = dir.path() / "dest", outside = dir.path() / "outside";
    fs::create_directories(dest);
    fs::create_directories(outside);
    WriteFile(outside / "victim.txt", "must stay");
    c.plant(dest, outside);
    const auto before = TreeSnapshot(outside);
    const fs::path archive = dir.path() / "a.tar";
    WriteArchive(archive, tiv_test_files::Format::kTar, c.entries);

    testing::internal::CaptureStderr();
    EXPECT_EQ(desktop::ExtractAll(archive.u16string(), dest.u16string()), c.extracted);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(TreeSnapshot(outside), before);
    if (c.file) {
      EXPECT_FALSE(fs::is_symlink(dest / c.file));
      EXPECT_EQ(ReadFile(dest / c.file), c.content);
    }
  }
}

TEST(ArchiveLinks, ExtractOneReplacesALinkInsteadOfWritingThroughIt) {
  TempDir dir;
  const fs::path archive = dir.path() / "a.zip";
  WriteArchive(archive, tiv_test_files::Format::kZip, {{"data.bin", "data"}});
  WriteFile(dir.path() / "victim.txt", "must stay");
  for (const bool hard : {false, true}) {
    SCOPED_TRACE(hard ? "hard link" : "symbolic link");
    const fs::path dest = dir.path() / (hard ? "hard.bin" : "soft.bin");
    if (hard) {
      fs::create_hard_link(dir.path() / "victim.txt", dest);
    } else {
      fs::create_symlink(dir.path() / "victim.txt", dest);
    }
    ASSERT_TRUE(desktop::ExtractOne(archive.u16string(), u"data.bin", dest.u16string()));
    EXPECT_FALSE(fs::is_symlink(dest));
    EXPECT_EQ(ReadFile(dest), "data");
    EXPECT_EQ(ReadFile(dir.path() / "victim.txt"), "must stay");
  }
}
