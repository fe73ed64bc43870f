// "Device.Manager" (class "Device.Manager.Class") and "DeviceInfo.Class": the Lua face of USB
// device detection. The listener given to Init is called with a "DeviceInfo.Class" object for
// every device that arrives or leaves.
#pragma once

#include "android/device_manager.h"
#include "luabind/lua_event.h"
#include "qv_engine.h"

#include <string>
#include <vector>

// The native object behind a "DeviceInfo.Class" value; Lua owns it.
struct DeviceInfo {
  std::wstring alias, produce_id, name, brand, type_text, resolution, small_png, big_png,
      shell_size, inter_shell_size, shot_pos, usb_identify, vid, pid;
  std::vector<std::wstring> drive_list, instance_id_list;
  std::int32_t change_type = 0;
};

class CLuaDeviceManager : public DeviceManagerCallback {
 public:
  static constexpr const char* kObjectName = "Device.Manager";
  static constexpr const char* kClassName = "Device.Manager.Class";
  static constexpr const char* kInfoClassName = "DeviceInfo.Class";

  // The one instance Lua sees, created on first use.
  static CLuaDeviceManager& Instance();

  // The detector it drives; by default the process-wide one.
  void SetManager(CDeviceManager* manager) { manager_ = manager; }
  CDeviceManager* manager() const;

  // Takes the listener at listener_index (none when it is not a function) and starts detection.
  bool Init(lua_State* L, int listener_index);
  void UnInit();

  void OnDeviceChange(const tiv::android::DeviceChange& change) override;

  // One line of the Lua log: "HH:MM:SS     <ticks>  <text>".
  static std::string LogLine(const std::string& text);
  static bool WriteLuaLog(const std::string& text);
  // "c:\TivorelLog" on Windows; "TivorelLog" in the temporary folder (beside "engine.log") on Linux.
  static std::wstring LogPath();

 private:
  CLuaDeviceManager();
  CDeviceManager* manager_ = nullptr;
  luabind::CLuaEvent listener_;
};

// Pushes a new "DeviceInfo.Class" object built from the change.
void PushDeviceInfo(lua_State* L, const tiv::android::DeviceChange& change);

void RegisterDeviceManager(QVLRT_ENV env);   // "Device.Manager"
void RegisterDeviceInfoClass(QVLRT_ENV env);  // "DeviceInfo.Class"
