// Installing an update package, and where a downloaded package's content goes on the device.
#include <gtest/gtest.h>

#include "desktop/app_update.h"
#include "desktop/install_dir.h"
#include "test_files.h"

#include "qv/scrambled_container.h"

#include <filesystem>
#include <string>
#include <vector>

using tiv_test_files::Entry;
using tiv_test_files::Format;
using tiv_test_files::ReadFile;
using tiv_test_files::TempDir;
using tiv_test_files::TreeSnapshot;
using tiv_test_files::WriteArchive;
using tiv_test_files::WriteFile;
namespace fs = std::filesystem;

namespace {

std::u16string Folder(const fs::path& p) { return p.u16string() + u"\\"; }

TEST(UpdateAPP, CopiesDeletesReplacesAndSkipsWhatLeavesTheInstallation) {
  TempDir tmp, install, outside;
  fs::create_directories(install.path() / "old");
  WriteFile(install.path() / "tivorel.bin", "old program");
  WriteFile(install.path() / "old" / "gone.txt", "delete me");
  WriteFile(install.path() / "keep.txt", "keep");
  WriteFile(outside.path() / "victim.txt", "must stay");
  const std::string victim_rel = "..\\" + outside.path().filename().string() + "\\victim.txt";

  const std::string list =
      "<Update>"
      "<DeleteFileList><f dest=\"old\\gone.txt\"/><f dest=\"" + victim_rel + "\"/>"
      "<f dest=\"/etc/x\"/><f dest=\"C:\\x\"/></DeleteFileList>"
      "<FileList>"
      "<f src=\"bin\\tivorel.bin\" dest=\"tivorel.bin\"/>"
      "<f src=\"data\\new.txt\" dest=\"xar\\deep\\new.txt\"/>"
      "<f src=\"data\\a.txt\" dest=\"first.txt\"/>"
      "<f src=\"data\\a.txt\" dest=\"second.txt\"/>"  // a later child with the same src wins
      "<f src=\"data\\evil.txt\" dest=\"" + victim_rel + "\"/>"
      "<f src=\"..\\..\\etc\\passwd\" dest=\"stolen.txt\"/>"
      "<f src=\"data\\evil.txt\" dest=\"\\abs.txt\"/>"
      "<f src=\"data\\evil.txt\" dest=\"D:evil.txt\"/>"
      "</FileList></Update>";
  const fs::path archive = tmp.path() / "update.zip";
  WriteArchive(archive, Format::kZip,
               {Entry("updatelist.xml", list), Entry("bin/tivorel.bin", "new program"),
                Entry("data/new.txt", "new file"), Entry("data/a.txt", "a"),
                Entry("data/evil.txt", "evil"), Entry("../escape.txt", "escape")});

  ASSERT_TRUE(desktop::InstallUpdate(archive.u16string(), Folder(tmp.path()), Folder(install.path())));

  EXPECT_EQ(ReadFile(install.path() / "tivorel.bin"), "new program");
  EXPECT_FALSE(fs::exists(install.path() / "tivorel.bin.tmp"));
  EXPECT_EQ(ReadFile(install.path() / "xar" / "deep" / "new.txt"), "new file");
  EXPECT_EQ(ReadFile(install.path() / "second.txt"), "a");
  EXPECT_FALSE(fs::exists(install.path() / "first.txt"));
  EXPECT_FALSE(fs::exists(install.path() / "old" / "gone.txt"));
  EXPECT_EQ(ReadFile(install.path() / "keep.txt"), "keep");
  EXPECT_EQ(ReadFile(outside.path() / "victim.txt"), "must stay");
  EXPECT_FALSE(fs::exists(install.path() / "stolen.txt"));
  EXPECT_FALSE(fs::exists(install.path() / "abs.txt"));
  EXPECT_FALSE(fs::exists(tmp.path() / "escape.txt"));
  // The package was unpacked where the update step looks for it.
  EXPECT_TRUE(fs::exists(tmp.path() / "Update" / "updatelist.xml"));
}

TEST(UpdateAPP, UnreadableArchiveOrListChangesNothing) {
  TempDir tmp, install;
  WriteFile(install.path() / "a.txt", "a");
  WriteFile(tmp.path() / "broken.zip", "not a zip at all");
  EXPECT_FALSE(desktop::InstallUpdate((tmp.path() / "broken.zip").u16string(), Folder(tmp.path()),
                                      Folder(install.path())));
  EXPECT_FALSE(desktop::InstallUpdate((tmp.path() / "missing.zip").u16string(), Folder(tmp.path()),
                                      Folder(install.path())));
  const fs::path no_list = tmp.path() / "nolist.zip";
  WriteArchive(no_list, Format::kZip, {Entry("a.txt", "b")});
  EXPECT_FALSE(desktop::InstallUpdate(no_list.u16string(), Folder(tmp.path()), Folder(install.path())));
  EXPECT_EQ(ReadFile(install.path() / "a.txt"), "a");
}

// Each update starts from an empty staging folder, and an archive that does not extract whole
// installs nothing: what an earlier update left there must never be installed.
TEST(UpdateAPP, LeavesOfAnEarlierUpdateAreNeverInstalled) {
  const std::string list =
      "<Update><FileList><f src=\"bin\\prog.txt\" dest=\"prog.txt\"/></FileList></Update>";
  struct Case {
    const char* name;
    std::vector<Entry> entries;
  };
  const Case cases[] = {
      {"no list", {Entry("bin/prog.txt", "v3")}},
      {"the listed file missing", {Entry("updatelist.xml", list), Entry("bin/other.txt", "x")}},
      {"an entry that cannot be extracted",
       {Entry("updatelist.xml", list), Entry("bin/prog.txt", "v3"), Entry("blocker", "a file"),
        Entry("blocker/inside.txt", "its folder is a file")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp, install;
    const fs::path first = tmp.path() / "first.zip";
    WriteArchive(first, Format::kZip, {Entry("updatelist.xml", list), Entry("bin/prog.txt", "v1")});
    ASSERT_TRUE(desktop::InstallUpdate(first.u16string(), Folder(tmp.path()), Folder(install.path())));
    ASSERT_EQ(ReadFile(install.path() / "prog.txt"), "v1");
    WriteFile(install.path() / "prog.txt", "v2");  // a later version came by other means
    const auto before = TreeSnapshot(install.path());

    const fs::path next = tmp.path() / "next.zip";
    WriteArchive(next, Format::kZip, c.entries);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(desktop::InstallUpdate(next.u16string(), Folder(tmp.path()), Folder(install.path())));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(TreeSnapshot(install.path()), before);
  }
}

// ---- package destinations -------------------------------------------------------------------

class InstallDir : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string doc =
        "<packets><packet com=\"com.example.game\" dir=\"/sdcard/Android/data/\"/>"
        "<group><packet com=\"other\" dir=\"/sdcard/Android/obb/\"/></group></packets>";
    const auto bytes = qv::container::WriteScrambledDocument(doc, {1, 2, 3, 4});
    WriteFile(dat_, std::string(bytes.begin(), bytes.end()));
  }
  // A fresh extracted folder holding the given subfolders.
  std::u16string Extracted(std::initializer_list<const char*> subs) {
    const fs::path d = root_.path() / ("x" + std::to_string(++n_));
    fs::create_directories(d);
    for (const char* s : subs) fs::create_directories(d / s);
    return d.u16string();
  }
  desktop::InstallTarget Get(const char16_t* kind, const std::u16string& dir) {
    return desktop::GetInstallTarget(kind, dir, table_);
  }
  TempDir root_;
  fs::path dat_ = root_.path() / "androidPacket.dat";
  desktop::PackageDestinations table_{dat_.u16string()};
  int n_ = 0;
};

TEST_F(InstallDir, EveryKind) {
  std::u16string d = Extracted({"com.example.game"});
  auto t = Get(u"GPK", d);
  EXPECT_EQ(t.local, d + u"\\com.example.game");
  EXPECT_EQ(t.device, u"/sdcard/Android/data/com.example.game");

  d = Extracted({"com.unknown.app"});
  t = Get(u"gpk", d);
  EXPECT_EQ(t.device, u"/sdcard/Android/obb/com.unknown.app");  // the "other" entry

  d = Extracted({"com.a", "com.b"});
  t = Get(u"gpk", d);
  EXPECT_TRUE(t.local.empty() && t.device.empty());

  d = Extracted({"obb/com.game.obb"});
  t = Get(u"hpk", d);
  EXPECT_EQ(t.local, d + u"\\obb\\com.game.obb");
  EXPECT_EQ(t.device, u"/sdcard/com.game.obb");
  d = Extracted({"obb/a", "obb/b"});
  t = Get(u"hpk", d);
  EXPECT_TRUE(t.local.empty() && t.device.empty());
  t = Get(u"hpk", Extracted({}));
  EXPECT_TRUE(t.local.empty() && t.device.empty());

  for (const char16_t* kind : {u"zip", u"RAR", u"lpk"}) {
    d = Extracted({"GameData"});
    t = Get(kind, d);
    EXPECT_EQ(t.local, d + u"\\GameData");
    EXPECT_EQ(t.device, u"/sdcard/GameData");
    d = Extracted({"com.example.game"});  // a dotted name goes by the table
    t = Get(kind, d);
    EXPECT_EQ(t.device, u"/sdcard/Android/data/com.example.game");
    t = Get(kind, Extracted({}));
    EXPECT_TRUE(t.local.empty() && t.device.empty());
  }

  t = Get(u"apk", Extracted({"GameData"}));
  EXPECT_TRUE(t.local.empty() && t.device.empty());
}

TEST_F(InstallDir, XpkManifestOrTheTable) {
  std::u16string d = Extracted({"payload"});
  WriteFile(fs::path(d) / "manifest.xml",
            "<xpk><data name=\"payload\"><destination>/sdcard/games/</destination></data></xpk>");
  auto t = Get(u"xpk", d);
  EXPECT_EQ(t.local, d + u"\\payload");
  EXPECT_EQ(t.device, u"/sdcard/games/");

  d = Extracted({"com.example.game"});
  WriteFile(fs::path(d) / "manifest.xml", "<xpk><data name=\"payload\"/></xpk>");  // no destination
  t = Get(u"xpk", d);
  EXPECT_EQ(t.device, u"/sdcard/Android/data/com.example.game");
}

TEST_F(InstallDir, TableIsReadOnceUntilReset) {
  EXPECT_EQ(table_.size(), 2u);
  fs::remove(dat_);
  std::u16string d = Extracted({"com.example.game"});
  EXPECT_EQ(Get(u"gpk", d).device, u"/sdcard/Android/data/com.example.game");
  table_.Reset();
  EXPECT_TRUE(Get(u"gpk", d).device.empty());  // no file, no table
  WriteFile(dat_, "damaged");
  table_.Reset();
  EXPECT_EQ(table_.size(), 0u);
}

}  // namespace

namespace {

// The file the build packs from tools/devdb/androidPacket.xml and stages in Profiles/.
TEST(InstallDirStaged, ShippedTableSendsUnknownPackagesToTheObbFolder) {
  desktop::PackageDestinations staged(fs::u8path(TIVOREL_PACKAGE_DESTINATIONS).u16string());
  EXPECT_EQ(staged.Lookup(u"com.some.game"), u"/sdcard/Android/obb/");
  EXPECT_EQ(staged.Lookup(u"obb"), u"/sdcard/Android/");
}

}  // namespace
