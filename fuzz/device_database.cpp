// The device database document (the XML inside the container that travels with the ADB client)
// and the matching that runs over it: vendors with their id groups, serial-number expressions,
// storage product strings.
#include "android/device_manager.h"
#include "fuzz_check.h"
#include "qv/text.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace tiv::android;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string document(reinterpret_cast<const char*>(data), size);
  DeviceDatabase db;
  if (!db.Parse(document)) {
    FUZZ_CHECK(db.vids().empty() && db.devices().empty());
    return 0;
  }
  // Instance ids made from the document's own vendors, so that matching goes deep.
  std::vector<std::wstring> ids = {L"USB\\VID_18D1&PID_4EE7\\0123456789ABCDEF",
                                   L"USB\\ROOT_HUB30\\4&1", L"USB\\VID_&PID_\\", L"\\"};
  for (const auto& [vid, record] : db.vids()) {
    std::wstring pid = L"0000";
    if (!record.pids.empty() && !record.pids.front().values.empty()) pid = record.pids.front().values.front();
    ids.push_back(L"USB\\VID_" + vid + L"&PID_" + pid + L"\\SERIAL" + vid);
    (void)db.MatchName(record, L"SERIAL" + vid);
    for (const auto& g : record.modals) {
      for (const auto& v : g.values) {
        DeviceEntry e;
        (void)MatchStorageProduct(db, v, e);
      }
    }
    if (ids.size() > 64) break;
  }
  for (const auto& id : ids) {
    DeviceEntry e;
    (void)MatchInstanceId(db, id, e);
    (void)ParseInstanceId(id);
  }
  std::vector<DeviceEntry> entries = MatchUsbDevices(db, ids);
  const std::vector<RemovableDrive> drives = {{L"E:\\", L"usbstor#disk&ven_a&prod_b&rev_1#SERIAL&0"},
                                              {L"F:\\", L""}};
  AttachDrives(db, drives, entries);
  (void)CompareScans({}, entries);
  (void)CompareScans(entries, {});
  return 0;
}
