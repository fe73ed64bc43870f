// Linux interfaces told apart by their sysfs folders: a fake tree with a PCI adapter, a bridge,
// a tap device and a veth pair end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sysfs_net.h"

namespace {

namespace fs = std::filesystem;

class SysfsNet : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tivorel_sysfs_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    const fs::path pci = root_ / "devices/pci0000:00/0000:00:03.0";
    fs::create_directories(pci / "net/eth0");
    fs::create_directories(root_ / "bus/pci/drivers/e1000e");
    fs::create_symlink("../../../bus/pci/drivers/e1000e", pci / "driver");
    fs::create_symlink("../../../0000:00:03.0", pci / "net/eth0/device");
    fs::create_directories(root_ / "devices/virtual/net/br0/bridge");
    fs::create_directories(root_ / "devices/virtual/net/tap0");
    std::ofstream(root_ / "devices/virtual/net/tap0/tun_flags") << "0x1002\n";
    fs::create_directories(root_ / "devices/virtual/net/veth1a");
    fs::create_directories(root_ / "class/net");
    fs::create_symlink("../../devices/pci0000:00/0000:00:03.0/net/eth0", root_ / "class/net/eth0");
    for (const char* n : {"br0", "tap0", "veth1a"})
      fs::create_symlink(std::string("../../devices/virtual/net/") + n, root_ / "class/net" / n);
    // An entry that is a plain folder without a device: nothing shows it is hardware.
    fs::create_directories(root_ / "class/net/odd0");
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string dir(const char* name) { return (root_ / "class/net" / name).string(); }
  fs::path root_;
};

TEST_F(SysfsNet, VirtualAndHardwareInterfaces) {
  const struct {
    const char* name;
    bool is_virtual;
    std::string description;
  } cases[] = {
      {"eth0", false, "e1000e (eth0)"},
      {"br0", true, "bridge (br0)"},
      {"tap0", true, "tun/tap (tap0)"},
      {"veth1a", true, "virtual (veth1a)"},
      {"odd0", true, "virtual (odd0)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.is_virtual, store::os::sysfs_is_virtual(dir(c.name))) << c.name;
    EXPECT_EQ(c.description, store::os::sysfs_description(c.name, dir(c.name), c.is_virtual))
        << c.name;
  }
}

}  // namespace
