// Installing an update package, and where a downloaded package's content goes on the device.
#include <gtest/gtest.h>

#include "desktop/app_update.h"
#include "desktop/install_dir.h"
#include "desktop/update_package.h"
#include "test_files.h"
#include "update_signing.h"

#include "qv/scrambled_container.h"
#include "qv/text.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using tiv_test_files::Entry;
using tiv_test_files::Format;
using tiv_test_files::ReadFile;
using tiv_test_files::TempDir;
using tiv_test_files::TreeSnapshot;
using tiv_test_files::WriteArchive;
using tiv_test_files::WriteFile;
using tiv_test_update::SignOptions;
using tiv_test_update::TrustTestKey;
using tiv_test_update::WriteSignedUpdate;
namespace fs = std::filesystem;

namespace {

std::u16string Folder(const fs::path& p) { return p.u16string() + u"\\"; }

TEST(UpdateAPP, SignedPackageCopiesDeletesAndReplaces) {
  TempDir tmp, install;
  fs::create_directories(install.path() / "old");
  WriteFile(install.path() / "tivorel.bin", "old program");
  WriteFile(install.path() / "old" / "gone.txt", "delete me");
  WriteFile(install.path() / "keep.txt", "keep");
  // Comments, a line that is no key, a key of someone else and CR LF line ends: the test key
  // is still found.
  fs::create_directories(install.path() / "Profiles");
  WriteFile(install.path() / "Profiles" / "update_keys.txt",
            std::string("# release keys\r\nnot a key\r\n") +
                "2cd9416085a01f8487eb3197ffbf4e36cfdb2f02b66057eb4f7fb02b65695b46  # other\r\n" +
                tiv_test_update::kTestPublicKey + "\r\n");

  const std::string list =
      "<Update>"
      "<DeleteFileList><f dest=\"old\\gone.txt\"/></DeleteFileList>"
      "<FileList>"
      "<f src=\"bin\\tivorel.bin\" dest=\"tivorel.bin\"/>"
      "<f src=\"data\\new.txt\" dest=\"xar\\deep\\new.txt\"/>"
      "<f src=\"data\\a.txt\" dest=\"first.txt\"/>"
      "<f src=\"data\\a.txt\" dest=\"second.txt\"/>"  // a later child with the same src wins
      "</FileList></Update>";
  const fs::path archive = tmp.path() / "update.zip";
  WriteSignedUpdate(archive, Format::kZip,
                    {Entry("updatelist.xml", list), Entry("bin/tivorel.bin", "new program"),
                     Entry("data/new.txt", "new file"), Entry("data/a.txt", "a")});

  testing::internal::CaptureStderr();
  ASSERT_TRUE(desktop::InstallUpdate(archive.u16string(), Folder(tmp.path()), Folder(install.path())));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("line 2 of"), std::string::npos)
      << "the line that is no key is reported";

  EXPECT_EQ(ReadFile(install.path() / "tivorel.bin"), "new program");
  EXPECT_FALSE(fs::exists(install.path() / "tivorel.bin.tmp"));
  EXPECT_EQ(ReadFile(install.path() / "xar" / "deep" / "new.txt"), "new file");
  EXPECT_EQ(ReadFile(install.path() / "second.txt"), "a");
  EXPECT_FALSE(fs::exists(install.path() / "first.txt"));
  EXPECT_FALSE(fs::exists(install.path() / "old" / "gone.txt"));
  EXPECT_EQ(ReadFile(install.path() / "keep.txt"), "keep");
  // The package was unpacked where the update step looks for it.
  EXPECT_TRUE(fs::exists(tmp.path() / "Update" / "updatelist.xml"));
}

// Whatever is not exactly what a trusted key signed changes nothing, in the installation or
// beside it, and the log says why.
TEST(UpdateAPP, WhatIsNotAuthenticIsRefusedAndChangesNothing) {
  const std::string list =
      "<Update><DeleteFileList><f dest=\"old\\gone.txt\"/></DeleteFileList>"
      "<FileList><f src=\"bin\\prog.bin\" dest=\"prog.bin\"/>"
      "<f src=\"data\\new.txt\" dest=\"xar\\new.txt\"/></FileList></Update>";
  const std::vector<Entry> files = {Entry("updatelist.xml", list), Entry("bin/prog.bin", "new program"),
                                    Entry("data/new.txt", "new file")};
  // The list with one more copy.
  auto with_copy = [&](const std::string& item) {
    std::vector<Entry> f = files;
    f[0].data.insert(f[0].data.find("</FileList>"), item);
    return f;
  };
  auto with_deletion = [&](const std::string& dest) {
    std::vector<Entry> f = files;
    f[0].data.insert(f[0].data.find("</DeleteFileList>"), "<f dest=\"" + dest + "\"/>");
    return f;
  };
  auto signed_with = [](std::vector<Entry> f, SignOptions o = {}) {
    return [f, o](const fs::path& archive) { WriteSignedUpdate(archive, Format::kZip, f, o); };
  };
  auto tampered = [&](std::function<void(const fs::path&)> change) {
    SignOptions o;
    o.tamper = std::move(change);
    return signed_with(files, o);
  };
  SignOptions foreign;
  foreign.key = tiv_test_update::kForeignKey;
  SignOptions as_given;
  as_given.digests = false;
  const std::string victim = "..\\outside\\victim.txt";  // install and outside are siblings

  struct Case {
    const char* name;
    std::function<void(const fs::path& archive)> make;
    const char* reason;  // a piece of the logged reason
    const char* keys = nullptr;  // the keys file, when not the test key's
  };
  const Case cases[] = {
      {"signed with a foreign key", signed_with(files, foreign), "does not verify against any trusted key"},
      {"unsigned", tampered([](const fs::path& d) { fs::remove(d / "updatelist.xml.sig"); }), "not signed"},
      {"a signature file that holds no signature",
       tampered([](const fs::path& d) { WriteFile(d / "updatelist.xml.sig", "trust me\n"); }),
       "does not hold a signature"},
      {"one bit of a file flipped",
       tampered([](const fs::path& d) { WriteFile(d / "data" / "new.txt", "new filE"); }),
       "data\\new.txt does not match its SHA-256"},
      {"the list changed after signing",
       tampered([](const fs::path& d) {
         std::string l = ReadFile(d / "updatelist.xml");
         const auto at = l.find("xar\\new.txt");  // a target
         ASSERT_NE(at, std::string::npos);
         l.replace(at, 3, "bin");
         WriteFile(d / "updatelist.xml", l);
       }),
       "does not verify against any trusted key"},
      {"a listed file missing", tampered([](const fs::path& d) { fs::remove(d / "data" / "new.txt"); }),
       "listed file data\\new.txt is missing"},
      {"an extra file the list does not name",
       tampered([](const fs::path& d) { WriteFile(d / "bin" / "extra.dll", "unlisted"); }),
       "does not name: bin\\extra.dll"},
      {"a listed file without its digest", signed_with(files, as_given), "no SHA-256 for bin\\prog.bin"},
      {"a copy that climbs out with ..", signed_with(with_copy("<f src=\"data\\new.txt\" dest=\"" + victim + "\"/>")),
       "outside the installation: ..\\outside\\victim.txt"},
      {"a deletion that climbs out with ..", signed_with(with_deletion(victim)),
       "outside the installation: ..\\outside\\victim.txt"},
      {"an absolute target", signed_with(with_copy("<f src=\"data\\new.txt\" dest=\"\\abs.txt\"/>")),
       "outside the installation: \\abs.txt"},
      {"a target on a drive", signed_with(with_copy("<f src=\"data\\new.txt\" dest=\"D:evil.txt\"/>")),
       "outside the installation: D:evil.txt"},
      {"a source outside the package",
       signed_with({Entry("updatelist.xml", "<Update><FileList><f src=\"..\\..\\etc\\passwd\" "
                                            "dest=\"stolen.txt\" sha256=\"" + std::string(64, '0') +
                                            "\"/></FileList></Update>")},
                   as_given),
       "outside the package: ..\\..\\etc\\passwd"},
      {"no trusted key", signed_with(files), "no update key is trusted", "# none yet\n"},
      {"a key file of bad lines only", signed_with(files), "no update key is trusted", "e88f24\nzz\n"},
      {"not an archive", [](const fs::path& a) { WriteFile(a, "not a zip at all"); }, "could not be extracted"},
      {"no archive", [](const fs::path&) {}, "could not be extracted"},
      {"no list",
       [](const fs::path& a) { WriteArchive(a, Format::kZip, {Entry("bin/prog.bin", "new program")}); },
       "no readable updatelist.xml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp, root;
    const fs::path install = root.path() / "install", outside = root.path() / "outside";
    fs::create_directories(install / "old");
    fs::create_directories(outside);
    WriteFile(install / "prog.bin", "old program");
    WriteFile(install / "old" / "gone.txt", "stays");
    WriteFile(outside / "victim.txt", "must stay");
    TrustTestKey(install);
    if (c.keys) WriteFile(install / "Profiles" / "update_keys.txt", c.keys);
    const auto before = TreeSnapshot(root.path());
    const fs::path archive = tmp.path() / "update.zip";
    c.make(archive);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(desktop::InstallUpdate(archive.u16string(), Folder(tmp.path()), Folder(install)));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(TreeSnapshot(root.path()), before);
    EXPECT_NE(log.find("refused"), std::string::npos) << log;
    EXPECT_NE(log.find(c.reason), std::string::npos) << log;
  }
}

TEST(UpdateAPP, KeyFileLines) {
  std::vector<int> bad;
  const auto keys = desktop::update::ParseKeyLines(
      "# comment only\n"
      "\n"
      "  E88F2416823E0F9DFEDAC1CABD28FD98AA6160A3115BE114184512D329817180  \r\n"
      "e88f2416823e0f9dfedac1cabd28fd98aa6160a3115be114184512d32981718\n"  // one digit short
      "2cd9416085a01f8487eb3197ffbf4e36cfdb2f02b66057eb4f7fb02b65695b46# trailing comment\n"
      "key: 2cd9416085a01f8487eb3197ffbf4e36cfdb2f02b66057eb4f7fb02b65695b46\n"
      "\t2cd9416085a01f8487eb3197ffbf4e36cfdb2f02b66057eb4f7fb02b65695b46",  // no final line end
      &bad);
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(qv::to_hex(keys[0].data(), 32), tiv_test_update::kTestPublicKey);
  EXPECT_EQ(qv::to_hex(keys[2].data(), 32),
            "2cd9416085a01f8487eb3197ffbf4e36cfdb2f02b66057eb4f7fb02b65695b46");
  EXPECT_EQ(bad, (std::vector<int>{4, 6}));
}

// Each update starts from an empty staging folder: the earlier package left there is signed
// and whole, and must never be installed again in place of one that brings nothing.
TEST(UpdateAPP, AnEarlierPackageIsNeverInstalledAgain) {
  const std::string list =
      "<Update><FileList><f src=\"bin\\prog.txt\" dest=\"prog.txt\"/></FileList></Update>";
  struct Case {
    const char* name;
    const char* archive;
    Format format;
    std::vector<Entry> entries;
  };
  const Case cases[] = {
      {"an empty archive", "next.tar", Format::kTar, {}},
      {"an archive of folders only", "next.zip", Format::kZip,
       {Entry("bin/", "", AE_IFDIR), Entry("xar/", "", AE_IFDIR)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp, install;
    TrustTestKey(install.path());
    const fs::path first = tmp.path() / "first.zip";
    WriteSignedUpdate(first, Format::kZip, {Entry("updatelist.xml", list), Entry("bin/prog.txt", "v1")});
    ASSERT_TRUE(desktop::InstallUpdate(first.u16string(), Folder(tmp.path()), Folder(install.path())));
    ASSERT_EQ(ReadFile(install.path() / "prog.txt"), "v1");
    WriteFile(install.path() / "prog.txt", "v2");  // a later version came by other means
    const auto before = TreeSnapshot(install.path());

    const fs::path next = tmp.path() / c.archive;
    WriteArchive(next, c.format, c.entries);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(desktop::InstallUpdate(next.u16string(), Folder(tmp.path()), Folder(install.path())));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(TreeSnapshot(install.path()), before);
    EXPECT_NE(log.find("no readable updatelist.xml"), std::string::npos) << log;
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

// A manifest cannot point the local side outside the extracted package.
TEST_F(InstallDir, XpkManifestNameOutsideThePackageGivesNoTarget) {
  for (const char* name : {"..", ".", "..\\..\\secret", "../secret", "payload\\..\\..", "C:\\Users",
                           "C:secret", "/etc"}) {
    SCOPED_TRACE(name);
    const std::u16string d = Extracted({"payload"});
    WriteFile(fs::path(d) / "manifest.xml", std::string("<xpk><data name=\"") + name +
                                                "\"><destination>/sdcard/games/</destination></data></xpk>");
    const auto t = Get(u"xpk", d);
    EXPECT_TRUE(t.local.empty() && t.device.empty()) << qv::text::utf16_to_utf8(t.local);
  }
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
