// The command lines of the ADB surface, byte for byte.
#include <gtest/gtest.h>

#include "android/adb_commands.h"
#include "qv/path.h"

using namespace tiv::android;

TEST(AdbCommands, LinesAreExact) {
  const struct {
    std::wstring got;
    std::wstring expected;
  } cases[] = {
      {adb_devices_command(), L"tivorel_help.exe  devices"},
      {adb_start_server_command(), L"tivorel_help.exe  start-server"},
      {adb_kill_server_command(), L"tivorel_help.exe  kill-server"},
      // The package file in the system's form ("\\" on Windows, "/" elsewhere).
      {adb_install_command(L"SER1", L"C:\\apk dir\\a.apk"),
       L"tivorel_help.exe  -s \"SER1\" install -r \"" + qv::path::to_native(L"C:\\apk dir\\a.apk") +
           L"\""},
      // The one line with a single blank after the file name.
      {adb_uninstall_command(L"SER1", L"com.example.app"),
       L"tivorel_help.exe -s \"SER1\" uninstall \"com.example.app\""},
      {adb_start_activity_command(L"10.0.0.2:5555", L"com.example/.Main"),
       L"tivorel_help.exe  -s \"10.0.0.2:5555\" shell am start -a android.intent.action.MAIN -n "
       L"\"com.example/.Main\""},
      {adb_forward_command(L"SER1", 12156, 12157),
       L"tivorel_help.exe  -s \"SER1\" forward tcp:12156 tcp:12157"},
      {adb_broadcast_command(L"SER1"),
       L"tivorel_help.exe  -s \"SER1\" shell am broadcast -a openUSBConnect"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, c.got);
}
