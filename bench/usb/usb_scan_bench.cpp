// A full USB scan (sysfs enumeration, hubs, grouping, matching against the shipped database,
// removable drives and their attachment) over a fixture tree of 200 devices and 20 drives,
// against a plain loop that only reads the same sysfs files; then the same scan over ten times
// as many devices and drives, to show that the cost grows linearly.
//   usb_scan_bench [work-folder]
#include "android/device_manager.h"
#include "sysfs_fixture_posix.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <dirent.h>

using namespace tiv::android;
namespace fs = std::filesystem;

namespace {

// Vendors of the shipped database and one it does not know; every device has a product id of
// its own (so each is matched on its own), a few of them known ones, and MediaTek's boards carry
// the serial that its "Names" expression recognises.
const char* const kVendors[] = {"18d1", "04e8", "0e8d", "2717", "12d1", "046d"};
const char* const kKnownPids[] = {"4ee7", "6860", "2000", "ff48", "107e", "c52b"};

void build(usb_fixture::Tree& tree, int devices, int drives) {
  const int buses = devices / 100 + 1;
  for (int b = 1; b <= buses; ++b) tree.add_root_hub(b);
  for (int i = 0; i < devices; ++i) {
    const int bus = i / 100 + 1, port = i % 100 + 1;
    char serial[32], pid[8];
    std::snprintf(serial, sizeof serial, i % 6 == 2 ? "0123456789ABCDEF" : "SER%05d", i);
    std::snprintf(pid, sizeof pid, "%04x", 0x8000 + i);
    tree.add_device({std::to_string(bus) + "-" + std::to_string(port), kVendors[i % 6],
                     i < 12 ? kKnownPids[i % 6] : pid, serial});
  }
  for (int d = 0; d < drives; ++d) {
    const int i = d * (devices / drives);  // a phone's or stick's storage
    const std::string usb = std::to_string(i / 100 + 1) + "-" + std::to_string(i % 100 + 1);
    const std::string name = "sd" + std::string(1, char('a' + d / 26 % 26)) + char('a' + d % 26) +
                             std::to_string(d);
    tree.add_disk(usb_fixture::Disk{name, usb, true, "Vendor", "Model " + std::to_string(d), "0100",
                               {{name + "1", "/media/bench/D" + std::to_string(d)}}});
  }
}

std::size_t read_file(const std::string& path) {
  char buf[4096];
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t total = 0;
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) total += static_cast<std::size_t>(n);
  ::close(fd);
  return total;
}

// The reference: every file the scan reads, read once, nothing made of it.
std::size_t plain_loop(const fs::path& root) {
  std::size_t bytes = 0;
  const std::string usb = (root / "sys/bus/usb/devices").string();
  DIR* d = ::opendir(usb.c_str());
  while (dirent* e = d ? ::readdir(d) : nullptr) {
    const std::string n = e->d_name;
    if (n[0] == '.' || n.find(':') != std::string::npos || n.compare(0, 3, "usb") == 0) continue;
    for (const char* a : {"/idVendor", "/idProduct", "/bDeviceClass", "/serial"})
      bytes += read_file(usb + "/" + n + a);
  }
  if (d) ::closedir(d);
  const std::string block = (root / "sys/block").string();
  d = ::opendir(block.c_str());
  while (dirent* e = d ? ::readdir(d) : nullptr) {
    const std::string n = e->d_name;
    if (n[0] == '.') continue;
    for (const char* a : {"/removable", "/device/vendor", "/device/model", "/device/rev"})
      bytes += read_file(block + "/" + n + a);
  }
  if (d) ::closedir(d);
  bytes += read_file((root / "proc/self/mounts").string());
  return bytes;
}

std::size_t full_scan(const DeviceDatabase& db, DeviceSource& source) {
  std::vector<UsbDevice> devices;
  source.ListUsbDevices(devices);
  std::vector<DeviceEntry> entries = MatchUsbDevices(db, ExpandHubs(devices));
  AttachDrives(db, source.ListRemovableDrives(), entries);
  return entries.size();
}

template <typename F>
double per_second(F f, double min_seconds = 1.5) {
  using clock = std::chrono::steady_clock;
  f();  // warm the caches
  int runs = 0;
  const auto start = clock::now();
  double elapsed = 0;
  do {
    f();
    ++runs;
    elapsed = std::chrono::duration<double>(clock::now() - start).count();
  } while (elapsed < min_seconds);
  return runs / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "tivorel_usb_bench";
  std::ifstream in(TIVOREL_DEVDB_SOURCE, std::ios::binary);
  const std::string document((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  DeviceDatabase db;
  if (!db.Parse(document)) {
    std::fprintf(stderr, "cannot read the device database %s\n", TIVOREL_DEVDB_SOURCE);
    return 1;
  }
  double scan_rate[2] = {0, 0};
  for (int k = 0; k < 2; ++k) {
    const int scale = k == 0 ? 1 : 10;

    usb_fixture::Tree tree(work / ("x" + std::to_string(scale)));
    build(tree, 200 * scale, 20 * scale);
    ::setenv("TIVOREL_SYSFS_ROOT", tree.root().c_str(), 1);
    auto source = MakeSystemDeviceSource();
    std::size_t entries = 0;
    const double scans = per_second([&] { entries = full_scan(db, *source); });
    const double reads = per_second([&] { plain_loop(tree.root()); });
    scan_rate[k] = scans;
    // Where a scan's time goes.
    std::vector<UsbDevice> devices;
    std::vector<RemovableDrive> drives;
    std::vector<DeviceEntry> matched;
    const double list_rate = per_second([&] { source->ListUsbDevices(devices); }, 0.5);
    const double drive_rate = per_second([&] { drives = source->ListRemovableDrives(); }, 0.5);
    const double match_rate = per_second([&] {
      matched = MatchUsbDevices(db, ExpandHubs(devices));
      AttachDrives(db, drives, matched);
    }, 0.5);
    std::printf("  per scan: USB listing %.2f ms, drives %.2f ms, matching %.2f ms\n",
                1000 / list_rate, 1000 / drive_rate, 1000 / match_rate);
    std::printf("%4d devices, %3d drives: %zu recognised; scan %.1f/s, plain reads %.1f/s, "
                "ratio %.2f\n",
                200 * scale, 20 * scale, entries, scans, reads, scans / reads);
  }
  std::printf("10x devices: %.1fx the time per scan (linear: about 10)\n", scan_rate[0] / scan_rate[1]);
  return 0;
}
