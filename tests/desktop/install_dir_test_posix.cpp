// Package destinations on Linux: the subfolder the system lists becomes a local path and a device
// path, so a name holding "\" (an ordinary character here) would name other folders in both.
#include "desktop/install_dir.h"
#include "test_files.h"

#include "qv/scrambled_container.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

TEST(InstallDirPosix, ASubfolderNameHoldingABackslashGivesNoTarget) {
  tiv_test_files::TempDir root;
  const std::string doc = "<packets><packet com=\"other\" dir=\"/sdcard/Android/obb/\"/></packets>";
  const auto bytes = qv::container::WriteScrambledDocument(doc, {1, 2, 3, 4});
  tiv_test_files::WriteFile(root.path() / "androidPacket.dat", std::string(bytes.begin(), bytes.end()));
  desktop::PackageDestinations table((root.path() / "androidPacket.dat").u16string());
  const struct {
    const char16_t* kind;
    const char* sub;  // the one subfolder below the extracted folder
  } cases[] = {
      {u"zip", "..\\..\\escape"},
      {u"zip", "com.a\\..\\.."},  // dotted: by the table
      {u"gpk", "..\\game"},
      {u"hpk", "obb/..\\..\\escape"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const fs::path d = root.path() / ("x" + std::to_string(++n));
    fs::create_directories(d / c.sub);
    const desktop::InstallTarget t = desktop::GetInstallTarget(c.kind, d.u16string(), table);
    EXPECT_TRUE(t.local.empty() && t.device.empty()) << c.sub << ": " << fs::path(t.local).string() << " -> "
                                                     << fs::path(t.device).string();
  }
}

}  // namespace
