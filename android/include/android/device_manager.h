// USB device detection: recognises Android phones and TV boxes among the present USB devices and
// removable drives by matching them against the device database that travels with the ADB client,
// keeps the list of recognised devices, rescans one second after the last device change and
// reports every device that arrives or leaves.
//
// The matching is written once, for instance ids in the Windows form
// (USB\VID_18D1&PID_4EE7\SERIAL) and storage paths in the form of the Windows disk interface
// (usbstor#disk&ven_x&prod_y&rev_z#SERIAL&0). Each system's layer produces exactly that form:
// SetupAPI and the volume I/O controls on Windows, sysfs and the mount table on Linux.
#pragma once

#include "hostbase/message_window.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tiv::android {

// ---- The device database ------------------------------------------------------------------

struct IdGroup {
  std::wstring product_id;
  std::vector<std::wstring> values;  // document order
};

struct VidRecord {
  std::wstring product_id;
  std::wstring vid;
  std::vector<IdGroup> pids;
  std::vector<IdGroup> names;   // values: regular expressions over the serial number
  std::vector<IdGroup> modals;  // values: mass-storage product strings
};

struct DeviceRecord {
  std::wstring product_id, manufactory, brand, product;
  std::int32_t type = 0;
  std::wstring alias, resolution_size, small_icon_path, large_icon_path, margins, inside_size,
      outside_size;
};

class DeviceDatabase {
 public:
  DeviceDatabase();
  ~DeviceDatabase();
  DeviceDatabase(DeviceDatabase&&) noexcept;
  DeviceDatabase& operator=(DeviceDatabase&&) noexcept;

  // Replaces the content with the document (UTF-8 XML). False, and the database left empty, when
  // the document does not parse. Each "Names" value that is not a valid regular expression is
  // named once in warnings() and never matches.
  bool Parse(const std::string& document);
  void Clear();

  const std::map<std::wstring, VidRecord>& vids() const { return vids_; }
  const std::map<std::wstring, DeviceRecord>& devices() const { return devices_; }
  const std::vector<std::string>& warnings() const { return warnings_; }

  // The first "Names" value of the vid's groups (in order) that finds a match in the serial and
  // whose group names a known device; null when none does.
  const DeviceRecord* MatchName(const VidRecord& vid, const std::wstring& serial) const;

 private:
  struct CompiledNames;
  std::map<std::wstring, VidRecord> vids_;
  std::map<std::wstring, DeviceRecord> devices_;
  std::vector<std::string> warnings_;
  std::unique_ptr<CompiledNames> names_;
};

// ---- What detection works with -------------------------------------------------------------

struct DeviceEntry {
  std::wstring alias, serial, product_id, brand, product;
  std::int32_t type = 0;
  std::vector<std::wstring> drives;
  std::wstring vid, pid, large_icon_path;
  std::vector<std::wstring> instance_ids;  // sorted, without duplicates
  std::wstring usb_key;                    // vid followed by pid
};

struct DeviceChange {
  int change_type = 0;  // 1 arrived, 2 removed
  std::wstring serial, product_id, brand, product, vid, pid, large_icon_path, usb_key;
  std::vector<std::wstring> instance_ids, drives;
};

// One present USB device as the system reports it.
struct UsbDevice {
  std::wstring instance_id;
  std::string description;                // the device description's bytes
  std::vector<std::wstring> children;     // instance ids of its direct children
};

// One removable drive and, when the system could tie it to a USB storage device, that device's
// storage path (empty otherwise).
struct RemovableDrive {
  std::wstring root;  // "E:\"; on Linux the mount point in Windows text with a trailing "\"
  std::wstring storage_path;
};

// Where scans come from: the system by default, a fixture in tests.
class DeviceSource {
 public:
  virtual ~DeviceSource() = default;
  // False when the enumeration itself failed (the scan is then empty).
  virtual bool ListUsbDevices(std::vector<UsbDevice>& out) = 0;
  virtual std::vector<RemovableDrive> ListRemovableDrives() = 0;
};

// The system's own source (SetupAPI and volumes; sysfs and the mount table).
std::unique_ptr<DeviceSource> MakeSystemDeviceSource();

// ---- The shared matching ------------------------------------------------------------------

struct InstanceIdParts {
  std::wstring vid, pid, serial;
};
// vid, pid and serial of an instance id: "VID_(\w{4}).+", "PID_(\w{4}).+", "\\([^\\]*)$".
InstanceIdParts ParseInstanceId(const std::wstring& id);

// The instance ids a scan considers: a root hub's and a hub's children in place of the hub,
// every other device's own id.
std::vector<std::wstring> ExpandHubs(const std::vector<UsbDevice>& devices);

// Groups the ids by vid and pid and matches each group: the recognised devices, in the order
// their first ids appear.
std::vector<DeviceEntry> MatchUsbDevices(const DeviceDatabase& db,
                                         const std::vector<std::wstring>& instance_ids);

// Matches one instance id (serial against "Names", then pid against "PIDs").
bool MatchInstanceId(const DeviceDatabase& db, const std::wstring& id, DeviceEntry& entry);

// The "Modals" lookup of a mass-storage product string.
bool MatchStorageProduct(const DeviceDatabase& db, const std::wstring& product, DeviceEntry& entry);

// Gives each drive to the first entry with an instance id whose serial its storage path contains,
// or makes a "Modals" entry for it; drives without a storage path are skipped.
void AttachDrives(const DeviceDatabase& db, const std::vector<RemovableDrive>& drives,
                  std::vector<DeviceEntry>& entries);

// The drive roots (in drive order) whose storage path contains the serial of one of the ids.
std::vector<std::wstring> DrivesOfInstances(const std::vector<RemovableDrive>& drives,
                                            const std::vector<std::wstring>& instance_ids);

// Arrivals (entries of current whose vid and pid no entry of previous has), then removals.
std::vector<DeviceChange> CompareScans(const std::vector<DeviceEntry>& previous,
                                       const std::vector<DeviceEntry>& current);

// ASCII-only case folding: the ids and product strings compared here are ASCII text.
bool ContainsNoCase(const std::wstring& haystack, const std::wstring& needle);
bool EqualNoCase(const std::wstring& a, const std::wstring& b);

}  // namespace tiv::android

// Receives every arrival and removal on the UI thread.
class DeviceManagerCallback {
 public:
  virtual ~DeviceManagerCallback() = default;
  virtual void OnDeviceChange(const tiv::android::DeviceChange& change) = 0;
};

class CDeviceManager : public hostbase::WindowMessageListener {
 public:
  // Device-change codes that lead to a rescan.
  static constexpr std::uintptr_t kDevNodesChanged = 0x0007;
  static constexpr std::uintptr_t kDeviceArrival = 0x8000;
  static constexpr std::uintptr_t kDeviceRemoveComplete = 0x8004;

  CDeviceManager();
  ~CDeviceManager() override;
  CDeviceManager(const CDeviceManager&) = delete;
  CDeviceManager& operator=(const CDeviceManager&) = delete;

  // What the manager uses; by default the process's message window, the program folder's ADB
  // client and the system's devices. Set before Init.
  void SetMessageWindow(hostbase::CMessageWindow* window) { window_ = window; }
  void SetProgramDir(const std::wstring& dir) { program_dir_ = dir; }
  void SetDeviceSource(std::unique_ptr<tiv::android::DeviceSource> source);

  // 0 on success (also when already started), E_FAIL when the database does not load.
  long Init(DeviceManagerCallback* callback);
  void UnInit();

  bool MatchStorageProduct(const std::wstring& product, tiv::android::DeviceEntry& entry) const;
  std::vector<std::wstring> DrivesOfInstances(const std::vector<std::wstring>& instance_ids);

  void OnWindowMessage(hostbase::WindowMessage& record) override;

  // Scan with notification (what the rescan timer runs).
  void Rescan();

  const std::vector<tiv::android::DeviceEntry>& current() const { return current_; }
  bool started() const { return started_; }
  bool rescan_pending() const { return timer_id_ != kNoTimer; }
  unsigned scan_count() const { return scan_count_; }

 private:
  static constexpr std::uint32_t kNoTimer = 0xFFFFFFFFu;
  static void OnRescanTimer(std::uintptr_t self);
  hostbase::CMessageWindow* window() const;
  tiv::android::DeviceSource& source();
  void StartMonitor();
  void StopMonitor();

  DeviceManagerCallback* callback_ = nullptr;
  hostbase::CMessageWindow* window_ = nullptr;
  std::uint32_t registration_ = 0;
  bool registered_ = false;
  std::vector<tiv::android::DeviceEntry> current_, previous_;
  tiv::android::DeviceDatabase db_;
  bool started_ = false;
  std::uint32_t timer_id_ = kNoTimer;
  unsigned scan_count_ = 0;
  std::wstring program_dir_;
  std::unique_ptr<tiv::android::DeviceSource> source_;
  struct Monitor;
  std::unique_ptr<Monitor> monitor_;
};
