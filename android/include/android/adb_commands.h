// The command lines the ADB surface queues, byte for byte: the client's bare file name, then
// two blanks (one for uninstall), quoted serials, paths and names, ports in decimal.
#pragma once

#include <string>

namespace tiv::android {

constexpr const wchar_t* kAdbClientName = L"tivorel_help.exe";

std::wstring adb_devices_command();
std::wstring adb_start_server_command();
std::wstring adb_kill_server_command();
std::wstring adb_install_command(const std::wstring& serial, const std::wstring& apk_path);
std::wstring adb_uninstall_command(const std::wstring& serial, const std::wstring& package);
std::wstring adb_start_activity_command(const std::wstring& serial, const std::wstring& component);
std::wstring adb_forward_command(const std::wstring& serial, int local_port, int device_port);
std::wstring adb_broadcast_command(const std::wstring& serial);

}  // namespace tiv::android
