// What USB detection asks of the system: present USB devices, removable drives tied to their
// storage devices, device-change notifications, and the Lua log's place and clock.
#pragma once

#include "android/device_manager.h"
#include "qv/message_loop.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tiv::android::os {

// Windows: SetupAPI devices of the "USB" enumerator with their descriptions and the children of
// each node. Linux: /sys/bus/usb/devices under the sysfs root, in the same form.
bool ListUsbDevices(std::vector<UsbDevice>& out);
// Windows: removable drive letters and the disk interface of each. Linux: mounted partitions of
// removable USB disks under /sys/block.
std::vector<RemovableDrive> ListRemovableDrives();

// Delivers device changes to the window as the device-change message. Windows sends that
// message to every top-level window by itself; Linux watches udev on a worker thread.
class ChangeMonitor {
 public:
  virtual ~ChangeMonitor() = default;
};
// Null when the system has no such source (or none is needed).
std::unique_ptr<ChangeMonitor> StartChangeMonitor(qv::loop::window_handle window);

// The Lua log file, as a path for the system's file functions, and its line end.
std::wstring LuaLogPath();
const char* LuaLogLineEnd();
// Milliseconds since the system started, modulo 2^32 (GetTickCount).
std::uint32_t TickCount();
// Appends bytes to a file (shared for reading and writing while open); false on failure.
bool AppendToFile(const std::wstring& path, const std::string& bytes);

}  // namespace tiv::android::os
