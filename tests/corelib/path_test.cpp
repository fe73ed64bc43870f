// Text <-> std::filesystem::path without the standard library's code conversions.
#include "qv/path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "qv/text.h"

namespace {

TEST(FsPath, NonAsciiNamesRoundTripThroughEveryForm) {
  const std::wstring name = qv::text::utf8_to_wide("\xE4\xB8\x8B\xE8\xBD\xBD \xF0\x9F\x98\x80.txt");
  const std::filesystem::path p = qv::path::to_fs_path(name);
  EXPECT_EQ(name, qv::path::from_fs_path(p));
  EXPECT_EQ(qv::text::wide_to_utf16(name), qv::path::fs_path_utf16(p));
  EXPECT_EQ("\xE4\xB8\x8B\xE8\xBD\xBD \xF0\x9F\x98\x80.txt", qv::path::fs_path_utf8(p));
  EXPECT_EQ(p, qv::path::to_fs_path(qv::text::wide_to_utf16(name)));
}

TEST(FsPath, NamesTheSameFileTheSystemSees) {
  // A name of its own, so that runs elsewhere on the machine do not meet it.
  const std::wstring unique = L"tivorel_fs_path_test_" + std::to_wstring(std::random_device{}());
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / qv::path::to_fs_path(unique);
  std::filesystem::create_directories(dir);
  const std::wstring name = qv::text::utf8_to_wide("\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD.bin");
  const std::filesystem::path file = dir / qv::path::to_fs_path(name);
  { std::ofstream(file) << "x"; }
  bool found = false;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    found = found || qv::path::from_fs_path(e.path().filename()) == name;
  EXPECT_TRUE(found);
  std::filesystem::remove_all(dir);
}

}  // namespace
