// Windows: USB devices from SetupAPI and the configuration manager, removable drives from the
// volume I/O controls and the disk interfaces. Device changes need no watcher here: Windows sends
// WM_DEVICECHANGE to every top-level window, the message window among them.
#include "usb_os.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winioctl.h>
#include <share.h>

#include <boost/regex.hpp>

#include <cstdio>
#include <map>

namespace tiv::android::os {
namespace {

// {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}: GUID_DEVINTERFACE_DISK.
const GUID kDiskInterface = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

class DevInfoSet {
 public:
  explicit DevInfoSet(HDEVINFO h) : h_(h) {}
  ~DevInfoSet() {
    if (valid()) SetupDiDestroyDeviceInfoList(h_);
  }
  DevInfoSet(const DevInfoSet&) = delete;
  DevInfoSet& operator=(const DevInfoSet&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HDEVINFO get() const { return h_; }

 private:
  HDEVINFO h_;
};

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (valid()) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// An instance id of any length: 128 units first, then the size Windows reports.
std::wstring instance_id(HDEVINFO set, SP_DEVINFO_DATA& info) {
  std::vector<wchar_t> buf(128);
  DWORD required = 0;
  if (!SetupDiGetDeviceInstanceIdW(set, &info, buf.data(), static_cast<DWORD>(buf.size()),
                                   &required)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0) return {};
    buf.assign(required + 1, L'\0');
    if (!SetupDiGetDeviceInstanceIdW(set, &info, buf.data(), static_cast<DWORD>(buf.size()),
                                     nullptr))
      return {};
  }
  buf.back() = L'\0';
  return std::wstring(buf.data());
}

// The description's bytes, of any length: 128 bytes first, then the size Windows reports.
std::string description(HDEVINFO set, SP_DEVINFO_DATA& info) {
  std::vector<BYTE> buf(128);
  DWORD required = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_DEVICEDESC, nullptr, buf.data(),
                                         static_cast<DWORD>(buf.size()), &required)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0) return {};
    buf.assign(required, 0);
    required = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_DEVICEDESC, nullptr, buf.data(),
                                           static_cast<DWORD>(buf.size()), &required))
      return {};
  }
  if (required > buf.size()) required = static_cast<DWORD>(buf.size());
  return std::string(reinterpret_cast<const char*>(buf.data()), required);
}

std::wstring node_id(DEVINST node) {
  ULONG length = 0;
  if (CM_Get_Device_ID_Size(&length, node, 0) != CR_SUCCESS) return {};
  std::vector<wchar_t> buf(length + 1, L'\0');
  if (CM_Get_Device_IDW(node, buf.data(), static_cast<ULONG>(buf.size()), 0) != CR_SUCCESS)
    return {};
  buf.back() = L'\0';
  return std::wstring(buf.data());
}

std::vector<std::wstring> children_of(DEVINST node) {
  std::vector<std::wstring> ids;
  DEVINST child = 0;
  if (CM_Get_Child(&child, node, 0) != CR_SUCCESS) return ids;
  do {
    std::wstring id = node_id(child);
    if (!id.empty()) ids.push_back(std::move(id));
  } while (CM_Get_Sibling(&child, child, 0) == CR_SUCCESS);
  return ids;
}

bool device_number(HANDLE h, STORAGE_DEVICE_NUMBER& number) {
  DWORD got = 0;
  return DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                         &got, nullptr) != 0;
}

// Device number -> storage path of every present disk interface on USB storage.
std::map<DWORD, std::wstring> usb_disks() {
  std::map<DWORD, std::wstring> disks;
  DevInfoSet set(SetupDiGetClassDevsW(&kDiskInterface, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set.valid()) return disks;
  static const boost::wregex usbstor(L"\\\\\\\\\\?\\\\(usbstor.+)#\\{", boost::regex::perl);
  SP_DEVICE_INTERFACE_DATA iface{};
  iface.cbSize = sizeof iface;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set.get(), nullptr, &kDiskInterface, i, &iface);
       ++i) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(set.get(), &iface, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    std::vector<BYTE> buf(required + sizeof(wchar_t), 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buf.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set.get(), &iface, detail, required, nullptr, nullptr))
      continue;
    const std::wstring path(detail->DevicePath);
    boost::wsmatch m;
    if (!boost::regex_search(path, m, usbstor)) continue;
    Handle h(CreateFileW(path.c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    STORAGE_DEVICE_NUMBER number{};
    if (!h.valid() || !device_number(h.get(), number)) continue;
    disks.emplace(number.DeviceNumber, m[1].str());  // the first interface with a number stays
  }
  return disks;
}

}  // namespace

bool ListUsbDevices(std::vector<UsbDevice>& out) {
  out.clear();
  DevInfoSet set(SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
  if (!set.valid()) return false;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set.get(), i, &info); ++i) {
    UsbDevice d;
    d.instance_id = instance_id(set.get(), info);
    if (d.instance_id.empty()) continue;
    d.description = description(set.get(), info);
    d.children = children_of(info.DevInst);
    out.push_back(std::move(d));
  }
  return true;
}

std::vector<RemovableDrive> ListRemovableDrives() {
  std::vector<RemovableDrive> drives;
  const DWORD size = GetLogicalDriveStringsW(0, nullptr);
  if (size == 0) return drives;
  std::vector<wchar_t> buf(size + 1, L'\0');
  const DWORD got = GetLogicalDriveStringsW(static_cast<DWORD>(buf.size()), buf.data());
  if (got == 0 || got > buf.size()) return drives;
  std::map<DWORD, std::wstring> disks;
  bool disks_read = false;
  for (const wchar_t* root = buf.data(); *root; root += wcslen(root) + 1) {
    if (GetDriveTypeW(root) != DRIVE_REMOVABLE) continue;
    std::wstring volume = L"\\\\.\\";
    volume += root[0];
    volume += L':';
    Handle h(CreateFileW(volume.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr));
    STORAGE_DEVICE_NUMBER number{};
    if (!h.valid() || !device_number(h.get(), number)) continue;
    if (!disks_read) {
      disks = usb_disks();
      disks_read = true;
    }
    auto d = disks.find(number.DeviceNumber);
    if (d == disks.end()) continue;
    drives.push_back({root, d->second});
  }
  return drives;
}

std::unique_ptr<ChangeMonitor> StartChangeMonitor(qv::loop::window_handle) { return nullptr; }

std::wstring LuaLogPath() { return L"c:\\TivorelLog"; }

const char* LuaLogLineEnd() { return "\r\n"; }

std::uint32_t TickCount() { return GetTickCount(); }

bool AppendToFile(const std::wstring& path, const std::string& bytes) {
  if (path.empty()) return false;
  FILE* f = _wfsopen(path.c_str(), L"ab", _SH_DENYNO);
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace tiv::android::os
