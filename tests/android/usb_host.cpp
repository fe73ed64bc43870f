// The host with "Device.Manager" over a fixture device source, for Lua host tests: the standard
// start-up, the detector given fixture instance ids and drives in place of the system's, the
// shipped database from the build's program folder, and two probes for the package:
// UsbTestLogPath() (where WriteLuaLog writes) and UsbTestUnplug() (every device leaves and the
// system reports a device change).
#include "android/child_process.h"
#include "android/device_manager.h"
#include "android/lua_device_manager.h"
#include "app/startup.h"
#include "hostbase/message_window.h"
#include "qv/path.h"
#include "qv/singleton_ex.h"
#include "qv/text.h"

using namespace tiv::android;
using qv::design_pattern::singleton_ex;

namespace {

std::vector<UsbDevice> g_usb;
std::vector<RemovableDrive> g_drives;

struct FixtureSource : DeviceSource {
  bool ListUsbDevices(std::vector<UsbDevice>& out) override {
    out = g_usb;
    return true;
  }
  std::vector<RemovableDrive> ListRemovableDrives() override { return g_drives; }
};

int LogPath(lua_State* L) {
  // As the system's file functions want it, for Lua's io.open.
  const std::string path = qv::text::wide_to_utf8(qv::path::to_native(CLuaDeviceManager::LogPath()));
  lua_pushlstring(L, path.data(), path.size());
  return 1;
}

int Unplug(lua_State*) {
  g_usb.clear();
  g_drives.clear();
  if (auto* mw = singleton_ex<hostbase::CMessageWindow>::instance())
    // Sent, not posted: Windows refuses to post a device event, whose parameter is a pointer.
    qv::loop::send_message(mw->window(), qv::loop::kWmDeviceChange,
                           CDeviceManager::kDeviceRemoveComplete, 0);
  return 0;
}

void setup(QVLRT_ENV env) {
  g_usb = {
      {L"USB\\VID_18D1&PID_4EE7\\0A1B2C3D", "USB Composite Device", {}},
      {L"USB\\VID_18D1&PID_4EE7&MI_01\\6&3A&0&0001", "ADB Interface", {}},
      {L"USB\\ROOT_HUB20\\4&1&0", "USB Root Hub", {L"USB\\VID_04E8&PID_6860\\R58M1"}},
      {L"USB\\VID_FFFF&PID_0001\\UNKNOWN", "USB Input Device", {}},
  };
  g_drives = {{L"E:\\", L"usbstor#disk&ven_google&prod_pixel&rev_0100#0a1b2c3d&0"},
              {L"G:\\", L"usbstor#disk&ven_linux&prod_file-stor_gadget&rev_0316#9f00&0"}};
  if (auto* m = singleton_ex<CDeviceManager>::instance()) {
    m->SetProgramDir(executable_directory() + L"../../../stage/");
    m->SetDeviceSource(std::make_unique<FixtureSource>());
  }
  lua_State* L = QVLRT_GetLuaState(QVLRT_GetRuntime(env, 0));
  lua_register(L, "UsbTestLogPath", LogPath);
  lua_register(L, "UsbTestUnplug", Unplug);
}

}  // namespace

int main() {
  app::HostHooks hooks;
  hooks.extra_registration = setup;
  return app::HostMain(hooks);
}
