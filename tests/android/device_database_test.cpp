// The staged ADB client carries the device database that the build packed, and the reader gets
// the document back from it: the same bytes on both targets.
#include "android/device_database.h"
#include "qv/scrambled_container.h"
#include "android/child_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::wstring stage_dir() { return tiv::android::executable_directory() + L"../../stage/"; }

std::string source_document() {
  const char* root = std::getenv("TIVOREL_SOURCE_DIR");
  std::ifstream in(std::string(root ? root : ".") + "/tools/devdb/devices.xml", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(DeviceDatabase, TheStagedClientCarriesThePackedSource) {
  std::vector<std::uint8_t> container = tiv::android::LoadDeviceDatabaseContainer(stage_dir());
  ASSERT_GT(container.size(), 4u);
  std::string document = qv::container::ReadScrambledDocument(container);
  std::string source = source_document();
  ASSERT_FALSE(source.empty());
  EXPECT_EQ(source, document);
  EXPECT_EQ(source, tiv::android::LoadDeviceDatabaseDocument(stage_dir()));
}

TEST(DeviceDatabase, AFolderWithoutTheClientGivesNothing) {
  EXPECT_TRUE(tiv::android::LoadDeviceDatabaseContainer(stage_dir() + L"Profiles\\").empty());
  EXPECT_TRUE(tiv::android::LoadDeviceDatabaseDocument(L"").empty());
}
