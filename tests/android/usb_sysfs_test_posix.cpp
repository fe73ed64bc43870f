// The Linux scanner over a fixture sysfs tree: Windows-form instance ids, hubs and interfaces,
// removable USB disks with their mount points, and a manager without udev that still scans.
#include "android/child_process.h"
#include "android/device_manager.h"
#include "qv/text.h"
#include "sysfs_fixture_posix.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

using namespace tiv::android;

namespace {

struct Recorder : DeviceManagerCallback {
  std::vector<DeviceChange> changes;
  void OnDeviceChange(const DeviceChange& c) override { changes.push_back(c); }
};

class SysfsTest : public ::testing::Test {
 protected:
  SysfsTest()
      : tree(std::filesystem::path(qv::text::wide_to_utf8(executable_directory())) /
             ("usb_sysfs_" + std::to_string(::getpid()))) {
    ::setenv("TIVOREL_SYSFS_ROOT", tree.root().c_str(), 1);
    tree.add_root_hub(1);
    tree.add_device({"1-1", "05e3", "0610", "", "09"});                 // a hub
    tree.add_device({"1-1.2", "18d1", "4ee7", "0A1B2C3D"});            // a phone behind it
    tree.add_device({"1-3", "04e8", "6860", ""});                      // no serial
    tree.add_device({"1-4", "0781", "5567", "4C53 00,1"});             // a serial Windows would not use
    tree.add_disk(usb_fixture::Disk{"sdb", "1-1.2", true, "Google  ", "Pixel 7         ", "0100",
                               {{"sdb1", "/media/u/PIXEL\\040DISK"}}});
    tree.add_disk(usb_fixture::Disk{"sdc", "1-4", false, "SanDisk", "Extreme", "0001",
                               {{"sdc1", "/media/u/FIXED"}}});  // not removable
    tree.add_disk(usb_fixture::Disk{"sdd", "", true, "ATA", "Card", "1", {{"", "/media/u/CARD"}}});
  }
  ~SysfsTest() override { ::unsetenv("TIVOREL_SYSFS_ROOT"); }

  usb_fixture::Tree tree;
};

}  // namespace

TEST_F(SysfsTest, DevicesComeInTheWindowsForm) {
  auto source = MakeSystemDeviceSource();
  std::vector<UsbDevice> devices;
  ASSERT_TRUE(source->ListUsbDevices(devices));
  std::vector<std::wstring> ids;
  for (const auto& d : devices) ids.push_back(d.instance_id);
  EXPECT_EQ(ids, (std::vector<std::wstring>{
                     L"USB\\VID_05E3&PID_0610\\1&1", L"USB\\VID_18D1&PID_4EE7\\0A1B2C3D",
                     L"USB\\VID_04E8&PID_6860\\1&3", L"USB\\VID_0781&PID_5567\\1&4",
                     L"USB\\ROOT_HUB\\1"}));
  // Hubs stand for their children; interfaces are no devices of their own.
  EXPECT_EQ(ExpandHubs(devices),
            (std::vector<std::wstring>{L"USB\\VID_18D1&PID_4EE7\\0A1B2C3D",
                                       L"USB\\VID_18D1&PID_4EE7\\0A1B2C3D",
                                       L"USB\\VID_04E8&PID_6860\\1&3", L"USB\\VID_0781&PID_5567\\1&4",
                                       L"USB\\VID_05E3&PID_0610\\1&1", L"USB\\VID_04E8&PID_6860\\1&3",
                                       L"USB\\VID_0781&PID_5567\\1&4"}));

  const std::vector<RemovableDrive> drives = source->ListRemovableDrives();
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].root, L"\\media\\u\\PIXEL DISK\\");
  EXPECT_EQ(drives[0].storage_path, L"usbstor#disk&ven_google&prod_pixel_7&rev_0100#0a1b2c3d&0");
}

TEST_F(SysfsTest, AManagerWithoutUdevScansAtInit) {
  CDeviceManager manager;  // no message window, no monitor: Init still scans
  manager.SetProgramDir(executable_directory() + L"../../stage/");
  Recorder recorder;
  ASSERT_EQ(manager.Init(&recorder), 0);
  ASSERT_EQ(recorder.changes.size(), 2u);
  EXPECT_EQ(recorder.changes[0].product_id, L"google_pixel");
  EXPECT_EQ(recorder.changes[0].serial, L"0A1B2C3D");
  EXPECT_EQ(recorder.changes[0].drives, std::vector<std::wstring>{L"\\media\\u\\PIXEL DISK\\"});
  EXPECT_EQ(recorder.changes[1].product_id, L"samsung_galaxy");
  EXPECT_EQ(recorder.changes[1].serial, L"1&3");
  EXPECT_EQ(manager.DrivesOfInstances({L"USB\\VID_18D1&PID_4EE7\\0a1b2c3d"}),
            std::vector<std::wstring>{L"\\media\\u\\PIXEL DISK\\"});
}

TEST(SysfsMissing, NoTreeIsAFailedEnumeration) {
  ::setenv("TIVOREL_SYSFS_ROOT", "/nonexistent-tivorel-root", 1);
  auto source = MakeSystemDeviceSource();
  std::vector<UsbDevice> devices;
  EXPECT_FALSE(source->ListUsbDevices(devices));
  EXPECT_TRUE(devices.empty());
  EXPECT_TRUE(source->ListRemovableDrives().empty());
  ::unsetenv("TIVOREL_SYSFS_ROOT");
}

TEST_F(SysfsTest, ALongSerialIsReadWhole) {
  const std::string serial(300, 'S');
  tree.add_device({"1-5", "18d1", "4ee2", serial});
  std::vector<UsbDevice> devices;
  ASSERT_TRUE(MakeSystemDeviceSource()->ListUsbDevices(devices));
  bool found = false;
  for (const auto& d : devices)
    found |= d.instance_id == L"USB\\VID_18D1&PID_4EE2\\" + std::wstring(serial.begin(), serial.end());
  EXPECT_TRUE(found);
}
