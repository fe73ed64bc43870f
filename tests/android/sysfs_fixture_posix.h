// Builds a small sysfs look-alike (sys/bus/usb/devices, sys/block, proc/self/mounts) for the
// Linux USB scanner, laid out as the kernel does: device folders under sys/devices, the bus and
// block folders as symbolic links into them.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace usb_fixture {

namespace fs = std::filesystem;

struct UsbNode {
  std::string name;    // "1-1.2"; the parent is implied by the name ("1-1", or "usb1")
  std::string vid, pid;  // lower-case hex, as sysfs writes them
  std::string serial;  // empty: no serial attribute
  std::string device_class = "00";
};

struct Disk {
  std::string name;        // "sdb"
  std::string usb_device;  // the USB device it hangs under; empty for a disk not on USB
  bool removable = true;
  std::string vendor, model, rev;
  std::vector<std::pair<std::string, std::string>> mounts;  // partition ("" = whole disk), point
};

class Tree {
 public:
  // Links point at absolute paths, so the root is made absolute first.
  explicit Tree(const fs::path& root) : root_(fs::absolute(root)) {
    fs::remove_all(root_);
    fs::create_directories(root_ / "sys/bus/usb/devices");
    fs::create_directories(root_ / "sys/block");
    fs::create_directories(root_ / "proc/self");
    std::ofstream(root_ / "proc/self/mounts") << "proc /proc proc rw 0 0\n"
                                                 "/dev/sda1 / ext4 rw 0 0\n";
  }
  ~Tree() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  const fs::path& root() const { return root_; }

  // Root hubs first, then parents before children.
  void add_device(const UsbNode& n) {
    const fs::path dir = device_dir(n.name);
    fs::create_directories(dir);
    write(dir / "idVendor", n.vid);
    write(dir / "idProduct", n.pid);
    write(dir / "bDeviceClass", n.device_class);
    if (!n.serial.empty()) write(dir / "serial", n.serial);
    // The interface folder, as a composite device has several.
    fs::create_directories(dir / (n.name + ":1.0"));
    link(dir, root_ / "sys/bus/usb/devices" / n.name);
    link(dir / (n.name + ":1.0"), root_ / "sys/bus/usb/devices" / (n.name + ":1.0"));
  }
  void add_root_hub(int bus) {
    const std::string name = "usb" + std::to_string(bus);
    const fs::path dir = root_ / "sys/devices/pci0000:00" / name;
    fs::create_directories(dir);
    write(dir / "idVendor", "1d6b");
    write(dir / "idProduct", "0002");
    write(dir / "bDeviceClass", "09");
    link(dir, root_ / "sys/bus/usb/devices" / name);
  }
  void add_disk(const Disk& d) {
    fs::path base = d.usb_device.empty() ? root_ / "sys/devices/platform/ata1"
                                         : device_dir(d.usb_device) / (d.usb_device + ":1.0");
    const fs::path dir = base / "host6/target6:0:0/6:0:0:0/block" / d.name;
    fs::create_directories(dir);
    write(dir / "removable", d.removable ? "1" : "0");
    const fs::path scsi = base / "host6/target6:0:0/6:0:0:0";
    write(scsi / "vendor", d.vendor);
    write(scsi / "model", d.model);
    write(scsi / "rev", d.rev);
    link(scsi, dir / "device");
    std::ofstream mounts(root_ / "proc/self/mounts", std::ios::app);
    for (const auto& m : d.mounts) {
      if (!m.first.empty()) fs::create_directories(dir / m.first);
      mounts << "/dev/" << (m.first.empty() ? d.name : m.first) << " " << m.second
             << " vfat rw,nosuid 0 0\n";
    }
    link(dir, root_ / "sys/block" / d.name);
  }

 private:
  fs::path device_dir(const std::string& name) const {
    // "1-1.2" lives in ".../usb1/1-1/1-1.2".
    const std::string bus = name.substr(0, name.find('-'));
    fs::path dir = root_ / "sys/devices/pci0000:00" / ("usb" + bus);
    std::string prefix = name.substr(0, name.find_first_of(".", name.find('-')));
    dir /= prefix;
    std::size_t pos = prefix.size();
    while (pos < name.size()) {
      const std::size_t next = name.find('.', pos + 1);
      prefix = name.substr(0, next);
      dir /= prefix;
      pos = next == std::string::npos ? name.size() : next;
    }
    return dir;
  }
  static void write(const fs::path& p, const std::string& text) { std::ofstream(p) << text << "\n"; }
  static void link(const fs::path& target, const fs::path& at) {
    std::error_code ec;
    fs::create_directory_symlink(target, at, ec);
  }
  fs::path root_;
};

}  // namespace usb_fixture
