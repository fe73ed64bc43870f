// Linux: USB devices from sysfs and removable drives from the mount table and /sys/block, both
// turned into the Windows forms the shared matching reads; device changes from udev.
//
// TIVOREL_SYSFS_ROOT names a folder that stands for "/" when reading sys/bus/usb/devices,
// sys/block and proc/self/mounts, so that tests and demos run against a fixture tree.
#include "usb_os.h"

#include "hostbase/mount_table.h"
#include "hostbase/path_manager.h"
#include "qv/path.h"
#include "qv/text.h"

#include <libudev.h>
#include <poll.h>
#include <unistd.h>
#include <fcntl.h>
#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <thread>

namespace tiv::android::os {
namespace {

constexpr const char* kRootVariable = "TIVOREL_SYSFS_ROOT";

std::string sys_root() {
  const char* r = std::getenv(kRootVariable);
  std::string root = (r && *r) ? r : "";
  while (!root.empty() && root.back() == '/') root.pop_back();
  return root;
}

// One sysfs attribute: its first line, without the line end. Attributes are at most a page.
bool read_attr(const std::string& path, std::string& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) {
    out.append(buf, static_cast<std::size_t>(n));
    if (out.size() > 65536) break;  // no attribute is that long
  }
  ::close(fd);
  if (n < 0) return false;
  const std::size_t eol = out.find('\n');
  if (eol != std::string::npos) out.resize(eol);
  return true;
}

std::string trim(std::string s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  return s.substr(i);
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    names.emplace_back(e->d_name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool all_digits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "1-1.4": a device; "usb1": a root hub; "1-1.4:1.0": an interface (not a device of its own:
// Windows' composite device stands for all its interfaces, and so does the sysfs device).
bool is_device_name(const std::string& n) {
  const std::size_t dash = n.find('-');
  if (dash == std::string::npos || n.find(':') != std::string::npos) return false;
  if (!all_digits(n.substr(0, dash))) return false;
  const std::string ports = n.substr(dash + 1);
  return !ports.empty() && std::all_of(ports.begin(), ports.end(), [](char c) {
    return (c >= '0' && c <= '9') || c == '.';
  });
}

bool is_root_hub_name(const std::string& n) {
  return n.size() > 3 && n.compare(0, 3, "usb") == 0 && all_digits(n.substr(3));
}

std::string parent_name(const std::string& n) {
  const std::size_t dot = n.rfind('.');
  if (dot != std::string::npos) return n.substr(0, dot);
  return "usb" + n.substr(0, n.find('-'));
}

std::string upper_hex4(const std::string& s) {
  std::string v = trim(s);
  for (char& c : v) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return v;
}

// Windows keeps a serial number in the instance id only when every character is printable
// ASCII other than ","; a serial with "\" would also break the id's last component.
bool usable_serial(const std::string& s) {
  if (s.empty()) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != ',' && c != '\\';
  });
}

// Without a usable serial Windows makes up a location-based id; the port path serves here.
std::string generated_serial(const std::string& name) {
  std::string s = name;
  for (char& c : s)
    if (c == '-' || c == '.') c = '&';
  return s;
}

std::string device_serial(const std::string& dir, const std::string& name) {
  std::string serial;
  if (read_attr(dir + "/serial", serial) && usable_serial(serial)) return serial;
  return generated_serial(name);
}

std::wstring wide(const std::string& s) { return qv::text::utf8_to_wide(s); }

std::string storage_token(std::string s) {
  s = trim(s);
  for (char& c : s) {
    if (c == ' ') c = '_';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return s;
}

}  // namespace

bool ListUsbDevices(std::vector<UsbDevice>& out) {
  out.clear();
  const std::string base = sys_root() + "/sys/bus/usb/devices";
  DIR* probe = ::opendir(base.c_str());
  if (!probe) return false;
  ::closedir(probe);

  struct Node {
    std::string name;
    UsbDevice device;
  };
  std::vector<Node> nodes;
  std::map<std::string, std::size_t> by_name;
  for (const std::string& name : list_dir(base)) {
    const std::string dir = base + "/" + name;
    UsbDevice d;
    if (is_root_hub_name(name)) {
      d.instance_id = L"USB\\ROOT_HUB\\" + wide(name.substr(3));
      d.description = "USB Root Hub";
    } else if (is_device_name(name)) {
      std::string vid, pid, cls;
      if (!read_attr(dir + "/idVendor", vid) || !read_attr(dir + "/idProduct", pid)) continue;
      read_attr(dir + "/bDeviceClass", cls);
      d.instance_id = L"USB\\VID_" + wide(upper_hex4(vid)) + L"&PID_" + wide(upper_hex4(pid)) +
                      L"\\" + wide(device_serial(dir, name));
      d.description = trim(cls) == "09" ? "Generic USB Hub" : "USB Device";
    } else {
      continue;
    }
    by_name[name] = nodes.size();
    nodes.push_back({name, std::move(d)});
  }
  for (const Node& n : nodes) {
    if (is_root_hub_name(n.name)) continue;
    auto p = by_name.find(parent_name(n.name));
    if (p != by_name.end()) nodes[p->second].device.children.push_back(n.device.instance_id);
  }
  out.reserve(nodes.size());
  for (Node& n : nodes) out.push_back(std::move(n.device));
  return true;
}

std::vector<RemovableDrive> ListRemovableDrives() {
  const std::string root = sys_root();
  const std::string block = root + "/sys/block";
  // Block device (or partition) name -> storage path of its removable USB disk.
  std::map<std::string, std::wstring> storage;
  for (const std::string& disk : list_dir(block)) {
    const std::string dir = block + "/" + disk;
    std::string removable;
    if (!read_attr(dir + "/removable", removable) || trim(removable) != "1") continue;
    char resolved[4096];
    if (!::realpath(dir.c_str(), resolved)) continue;
    // The USB device is the last path component that names one (before its interface).
    const std::string path(resolved);
    std::string usb_dir, usb_name;
    std::size_t pos = 0;
    while (pos < path.size()) {
      std::size_t next = path.find('/', pos + 1);
      if (next == std::string::npos) next = path.size();
      const std::string part = path.substr(pos + 1, next - pos - 1);
      if (is_device_name(part)) {
        usb_dir = path.substr(0, next);
        usb_name = part;
      }
      pos = next;
    }
    if (usb_dir.empty()) continue;  // not on USB
    std::string vendor, model, rev;
    read_attr(dir + "/device/vendor", vendor);
    read_attr(dir + "/device/model", model);
    read_attr(dir + "/device/rev", rev);
    std::string path_text = "usbstor#disk&ven_" + storage_token(vendor) + "&prod_" +
                                  storage_token(model) + "&rev_" + storage_token(rev) + "#" +
                                  device_serial(usb_dir, usb_name) + "&0";
    // Windows hands the disk interface's path out in lower case.
    for (char& c : path_text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    storage[disk] = wide(path_text);
    for (const std::string& part : list_dir(dir))
      if (part.size() > disk.size() && part.compare(0, disk.size(), disk) == 0)
        storage[part] = wide(path_text);
  }
  std::vector<RemovableDrive> drives;
  if (storage.empty()) return drives;

  std::set<std::string> seen;
  for (const hostbase::MountEntry& mount : hostbase::ReadMountTable(root + "/proc/self/mounts")) {
    if (mount.device.compare(0, 5, "/dev/") != 0) continue;
    auto s = storage.find(mount.device.substr(5));
    if (s == storage.end()) continue;
    const std::string& mount_point = mount.mount_point;
    if (!seen.insert(mount_point).second) continue;
    std::wstring root_text = qv::path::to_windows_text(wide(mount_point));
    if (root_text.empty() || root_text.back() != L'\\') root_text += L'\\';
    drives.push_back({root_text, s->second});
  }
  return drives;
}

namespace {

// Watches udev for "usb" and "block" events and posts each as the device-change message.
class UdevMonitor : public ChangeMonitor {
 public:
  static std::unique_ptr<UdevMonitor> Start(qv::loop::window_handle window) {
    std::unique_ptr<UdevMonitor> m(new UdevMonitor(window));
    if (!m->Open()) return nullptr;
    m->worker_ = std::thread([raw = m.get()] { raw->Run(); });
    return m;
  }

  ~UdevMonitor() override {
    if (worker_.joinable()) {
      const char b = 1;
      (void)!::write(stop_[1], &b, 1);
      worker_.join();
    }
    if (stop_[0] >= 0) ::close(stop_[0]);
    if (stop_[1] >= 0) ::close(stop_[1]);
    if (monitor_) udev_monitor_unref(monitor_);
    if (udev_) udev_unref(udev_);
  }

 private:
  explicit UdevMonitor(qv::loop::window_handle window) : window_(window) {}

  bool Open() {
    if (::pipe2(stop_, O_CLOEXEC) != 0) {
      stop_[0] = stop_[1] = -1;
      return false;
    }
    udev_ = udev_new();
    if (!udev_) return false;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor_) return false;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0)
      return false;
    return udev_monitor_get_fd(monitor_) >= 0;
  }

  void Run() {
    pollfd fds[2] = {{udev_monitor_get_fd(monitor_), POLLIN, 0}, {stop_[0], POLLIN, 0}};
    for (;;) {
      fds[0].revents = fds[1].revents = 0;
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents) return;
      if (!(fds[0].revents & POLLIN)) continue;
      udev_device* dev = udev_monitor_receive_device(monitor_);
      if (!dev) continue;
      const char* action = udev_device_get_action(dev);
      std::uintptr_t code = 0x0007;  // DBT_DEVNODES_CHANGED
      if (action && std::string(action) == "add") code = 0x8000;
      if (action && std::string(action) == "remove") code = 0x8004;
      udev_device_unref(dev);
      qv::loop::post_message(window_, qv::loop::kWmDeviceChange, code, 0);
    }
  }

  qv::loop::window_handle window_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  int stop_[2] = {-1, -1};
  std::thread worker_;
};

}  // namespace

std::unique_ptr<ChangeMonitor> StartChangeMonitor(qv::loop::window_handle window) {
  if (!sys_root().empty()) return nullptr;  // a fixture tree never changes by itself
  return UdevMonitor::Start(window);
}

std::wstring LuaLogPath() {
  const std::wstring dir = hostbase::GetTempDirectory();
  if (dir.empty()) return {};
  return dir + L"TivorelLog";
}

const char* LuaLogLineEnd() { return "\n"; }

std::uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  const unsigned long long ms =
      static_cast<unsigned long long>(ts.tv_sec) * 1000ULL + static_cast<unsigned long long>(ts.tv_nsec) / 1000000ULL;
  return static_cast<std::uint32_t>(ms);
}

bool AppendToFile(const std::wstring& path, const std::string& bytes) {
  if (path.empty()) return false;
  const std::string native = qv::path::to_native(qv::text::wide_to_utf8(path));
  FILE* f = std::fopen(native.c_str(), "ab");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace tiv::android::os
