#include "desktop/archive.h"
#include "test_files.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <set>

namespace fs = std::filesystem;
using tiv_test_files::Entry;
using tiv_test_files::ReadFile;
using tiv_test_files::TempDir;
using tiv_test_files::WriteArchive;
using tiv_test_files::WriteFile;

namespace {

std::u16string U(const fs::path& p) { return p.u16string(); }

// Every path below root, relative, with "/" separators; folders end in "/".
std::set<std::string> Tree(const fs::path& root) {
  std::set<std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    std::string rel = it->path().lexically_relative(root).generic_string();
    out.insert(it->is_directory() ? rel + "/" : rel);
  }
  return out;
}

const std::vector<Entry> kSample = {
    {"top.txt", "top level"},
    {"a/b/c.txt", std::string(70000, 'c')},
    {"a/empty.bin", ""},
    {"a/b/", "", AE_IFDIR},
};

}  // namespace

TEST(Archive, FormatsExtractWithContentAndSize) {
  struct Case {
    const char* file;
    tiv_test_files::Format format;
  };
  const Case cases[] = {
      {"s.zip", tiv_test_files::Format::kZip},
      {"s.7z", tiv_test_files::Format::k7z},
      {"s.tar.gz", tiv_test_files::Format::kTarGz},
      {"s.tgz", tiv_test_files::Format::kTarGz},
      {"s.tar", tiv_test_files::Format::kTar},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir dir;
    const fs::path archive = dir.path() / c.file;
    WriteArchive(archive, c.format, kSample);
    const fs::path out = dir.path() / "out";
    EXPECT_EQ(desktop::TotalUnpackedSize(U(archive)), 9u + 70000u);
    EXPECT_EQ(desktop::LastOpenStatus(), desktop::kArchiveOpened);
    ASSERT_TRUE(desktop::ExtractAll(U(archive), U(out)));
    EXPECT_EQ(Tree(out), (std::set<std::string>{"top.txt", "a/", "a/b/", "a/b/c.txt",
                                                 "a/empty.bin"}));
    EXPECT_EQ(ReadFile(out / "a" / "b" / "c.txt"), std::string(70000, 'c'));
    EXPECT_EQ(ReadFile(out / "top.txt"), "top level");
  }
}

TEST(Archive, PackageExtensionsAreZip) {
  for (const char* ext : {"apk", "gpk", "spk", "xpk", "hpk", "lpk", "APK", "Zip"}) {
    SCOPED_TRACE(ext);
    TempDir dir;
    const fs::path archive = dir.path() / (std::string("pkg.") + ext);
    WriteArchive(archive, tiv_test_files::Format::kZip, {{"AndroidManifest.xml", "<m/>"}});
    ASSERT_TRUE(desktop::ExtractAll(U(archive), U(dir.path() / "out")));
    EXPECT_EQ(ReadFile(dir.path() / "out" / "AndroidManifest.xml"), "<m/>");
  }
}

TEST(Archive, OpenFailures) {
  TempDir dir;
  const fs::path garbage = dir.path() / "garbage.zip";
  WriteFile(garbage, "this is not an archive at all, just some text long enough");
  const fs::path unknown_ext = dir.path() / "real_zip.foo";
  WriteArchive(unknown_ext, tiv_test_files::Format::kZip, {{"x", "y"}});
  const fs::path truncated = dir.path() / "cut.zip";
  {
    WriteArchive(truncated, tiv_test_files::Format::kZip, kSample);
    std::string bytes = ReadFile(truncated);
    WriteFile(truncated, bytes.substr(0, bytes.size() / 2));
  }
  const fs::path zip_as_7z = dir.path() / "zip.7z";
  WriteArchive(zip_as_7z, tiv_test_files::Format::kZip, {{"x", "y"}});
  struct Case {
    fs::path file;
    int status;
  };
  const Case cases[] = {
      {dir.path() / "missing.zip", desktop::kArchiveOtherFailure},
      {garbage, desktop::kArchiveNoHandler},
      {unknown_ext, desktop::kArchiveNoHandler},
      {zip_as_7z, desktop::kArchiveNoHandler},
      {dir.path() / "noext", desktop::kArchiveNoHandler},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.string());
    EXPECT_EQ(desktop::TotalUnpackedSize(U(c.file)), 0u);
    EXPECT_EQ(desktop::LastOpenStatus(), c.status);
    EXPECT_FALSE(desktop::ExtractAll(U(c.file), U(dir.path() / "out")));
    EXPECT_FALSE(desktop::ExtractOne(U(c.file), u"x", U(dir.path() / "one")));
  }
  // A zip whose central directory is cut off cannot be listed at all.
  EXPECT_EQ(desktop::TotalUnpackedSize(U(truncated)), 0u);
  EXPECT_FALSE(fs::exists(dir.path() / "out"));
  EXPECT_FALSE(fs::exists(dir.path() / "one"));
}

TEST(Archive, DirectoriesOnlyMakeFoldersAndNoFiles) {
  TempDir dir;
  const fs::path archive = dir.path() / "dirs.zip";
  WriteArchive(archive, tiv_test_files::Format::kZip,
               {{"d1/", "", AE_IFDIR}, {"d1/d2/d3/", "", AE_IFDIR}, {"e/", "", AE_IFDIR}});
  EXPECT_EQ(desktop::TotalUnpackedSize(U(archive)), 0u);
  EXPECT_EQ(desktop::LastOpenStatus(), desktop::kArchiveOpened);
  const fs::path out = dir.path() / "deep" / "out";
  ASSERT_TRUE(desktop::ExtractAll(U(archive), U(out)));
  EXPECT_EQ(Tree(out), (std::set<std::string>{"d1/", "d1/d2/", "d1/d2/d3/", "e/"}));
}

TEST(Archive, ExtractOneIgnoresCaseAndSeparator) {
  TempDir dir;
  const fs::path archive = dir.path() / "app.apk";
  WriteArchive(archive, tiv_test_files::Format::kZip,
               {{"res/", "", AE_IFDIR},
                {"res/Icon.PNG", "icon bytes"},
                {"res/icon.png", "second, never chosen"},
                {"assets/data.bin", "data"}});
  struct Case {
    std::u16string entry;
    bool found;
    const char* content;
  };
  const Case cases[] = {
      {u"res/Icon.PNG", true, "icon bytes"},
      {u"RES/ICON.png", true, "icon bytes"},
      {u"res\\icon.png", true, "icon bytes"},
      {u"assets/DATA.bin", true, "data"},
      {u"res", false, nullptr},  // a folder is not a file to extract
      {u"res/Icon.PN", false, nullptr},
      {u"Icon.PNG", false, nullptr},
      {u"", false, nullptr},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(qv::xml::to_utf8(c.entry));
    const fs::path dest = dir.path() / ("new" + std::to_string(n++)) / "sub" / "icon.png";
    EXPECT_EQ(desktop::ExtractOne(U(archive), c.entry, U(dest)), c.found);
    if (c.found) {
      EXPECT_EQ(ReadFile(dest), c.content);
    } else {
      EXPECT_FALSE(fs::exists(dest));
    }
  }
  // An existing destination is replaced, not appended to or left with a stale tail.
  const fs::path dest = dir.path() / "existing.bin";
  WriteFile(dest, std::string(1000, 'x'));
  ASSERT_TRUE(desktop::ExtractOne(U(archive), u"assets/data.bin", U(dest)));
  EXPECT_EQ(ReadFile(dest), "data");
}

TEST(Archive, EntriesNeverLeaveTheDestination) {
  const std::vector<Entry> evil = {
      {"../evil1", "x"},
      {"/abs_evil2", "x"},
      {"C:\\evil3", "x"},
      {"..\\evil4", "x"},
      {"a/../../evil5", "x"},
      {"C:evil6", "x"},
      {"ok/../../evil7", "x"},
      {"\\evil8", "x"},
      {"ok/.. /evil9", "x"},
      {"ok/...", "x"},
      {"ok/good.txt", "good"},
      {"./ok/./also.txt", "also"},
  };
  for (auto format : {tiv_test_files::Format::kZip, tiv_test_files::Format::kTarGz}) {
    SCOPED_TRACE(static_cast<int>(format));
    TempDir dir;
    const fs::path archive =
        dir.path() / "in" / (format == tiv_test_files::Format::kZip ? "e.zip" : "e.tar.gz");
    fs::create_directories(archive.parent_path());
    WriteArchive(archive, format, evil);
    const fs::path out = dir.path() / "x" / "dest";
    testing::internal::CaptureStderr();
    ASSERT_TRUE(desktop::ExtractAll(U(archive), U(out)));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Tree(dir.path()),
              (std::set<std::string>{"in/", "in/" + archive.filename().string(), "x/", "x/dest/",
                                     "x/dest/ok/", "x/dest/ok/good.txt", "x/dest/ok/also.txt"}));
    EXPECT_FALSE(fs::exists("/abs_evil2"));
    EXPECT_FALSE(fs::exists(fs::path(dir.path().root_path()) / "evil3"));
    for (int i = 1; i <= 9; ++i) {
      const std::string name = "evil" + std::to_string(i);
      EXPECT_NE(log.find(name), std::string::npos) << "not logged: " << name << "\n" << log;
    }
  }
}

TEST(Archive, LinksAreNotCreated) {
  TempDir dir;
  const fs::path archive = dir.path() / "links.tar";
  WriteArchive(archive, tiv_test_files::Format::kTar,
               {{"link", "", AE_IFLNK, "/etc"},
                {"link/passwd", "inside"},
                {"hard", "", AE_IFREG, "", "top.txt"},
                {"top.txt", "t"}});
  const fs::path out = dir.path() / "out";
  testing::internal::CaptureStderr();
  ASSERT_TRUE(desktop::ExtractAll(U(archive), U(out)));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(fs::is_symlink(out / "link"));
  EXPECT_EQ(ReadFile(out / "link" / "passwd"), "inside");  // a plain folder inside out
  EXPECT_FALSE(fs::exists(out / "hard"));
  EXPECT_NE(log.find("link"), std::string::npos);
}

// The others are still extracted, but the caller learns that the folder is not the archive.
TEST(Archive, AFailingItemDoesNotStopTheOthersButFailsTheWhole) {
  TempDir dir;
  const fs::path archive = dir.path() / "p.zip";
  WriteArchive(archive, tiv_test_files::Format::kZip,
               {{"first.txt", "1"},
                {"blocked", "cannot be written"},
                {"first.txt/under.txt", "its folder is a file"},
                {"last.txt", "3"}});
  const fs::path out = dir.path() / "out";
  fs::create_directories(out / "blocked" / "inner");  // a folder where a file should go
  testing::internal::CaptureStderr();
  EXPECT_FALSE(desktop::ExtractAll(U(archive), U(out)));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("blocked"), std::string::npos);
  EXPECT_EQ(ReadFile(out / "first.txt"), "1");
  EXPECT_EQ(ReadFile(out / "last.txt"), "3");
  EXPECT_TRUE(fs::is_directory(out / "blocked"));
}

TEST(Archive, UnicodeNamesAndPaths) {
  // libarchive 3.6's zip and tar writers on Windows cannot write names outside the ANSI code
  // page, so those fixtures keep to Latin-1; 7z stores UTF-16 names and carries the rest.
  struct Case {
    const char* archive;
    tiv_test_files::Format format;
    const char* name;  // UTF-8
    const char16_t* upper;  // the same entry path in other case
  };
  const Case cases[] = {
      {"p\xc3\xa4" "ck.zip", tiv_test_files::Format::kZip, "\xc3\xa9t\xc3\xa9/\xc3\xbc" "ber.txt",
       u"\u00c9T\u00c9\\\u00dcBER.txt"},
      {"p\xc3\xa4" "ck.7z", tiv_test_files::Format::k7z, "\xc3\xa9t\xc3\xa9/\xe5\x9b\xbe.txt",
       u"\u00c9t\u00c9/\u56fe.TXT"},
      {"p\xc3\xa4" "ck.tar", tiv_test_files::Format::kTar, "D\xc3\xa4/\xc3\xb6.txt", u"d\u00c4\\\u00d6.TXT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.archive);
    TempDir dir;
    const fs::path folder = dir.path() / fs::path(u"\u4e2d\u6587 dir");
    fs::create_directories(folder);
    const fs::path archive = folder / fs::u8path(c.archive);
    WriteArchive(archive, c.format, {{c.name, "u"}});
    const fs::path out = folder / fs::path(u"\u00f6ut");
    ASSERT_TRUE(desktop::ExtractAll(U(archive), U(out)));
    EXPECT_EQ(ReadFile(out / fs::u8path(c.name)), "u");
    const fs::path one = folder / fs::path(u"\u4e00.txt");
    EXPECT_TRUE(desktop::ExtractOne(U(archive), c.upper, U(one)));
    EXPECT_EQ(ReadFile(one), "u");
  }
}
