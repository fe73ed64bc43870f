#include "android/adb_commands.h"

#include "qv/path.h"

namespace tiv::android {
namespace {

std::wstring quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

std::wstring client() { return kAdbClientName; }

}  // namespace

std::wstring adb_devices_command() { return client() + L"  devices"; }

std::wstring adb_start_server_command() { return client() + L"  start-server"; }

std::wstring adb_kill_server_command() { return client() + L"  kill-server"; }

// The package file is read by the client on this system, so it gets the system's path form.
std::wstring adb_install_command(const std::wstring& serial, const std::wstring& apk_path) {
  return client() + L"  -s " + quoted(serial) + L" install -r " +
         quoted(qv::path::to_native(apk_path));
}

std::wstring adb_uninstall_command(const std::wstring& serial, const std::wstring& package) {
  return client() + L" -s " + quoted(serial) + L" uninstall " + quoted(package);
}

std::wstring adb_start_activity_command(const std::wstring& serial,
                                        const std::wstring& component) {
  return client() + L"  -s " + quoted(serial) +
         L" shell am start -a android.intent.action.MAIN -n " + quoted(component);
}

std::wstring adb_forward_command(const std::wstring& serial, int local_port, int device_port) {
  return client() + L"  -s " + quoted(serial) + L" forward tcp:" + std::to_wstring(local_port) +
         L" tcp:" + std::to_wstring(device_port);
}

std::wstring adb_broadcast_command(const std::wstring& serial) {
  return client() + L"  -s " + quoted(serial) + L" shell am broadcast -a openUSBConnect";
}

}  // namespace tiv::android
