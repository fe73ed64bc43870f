// The host with "AndroidCon.Manager" and the ADB runner, for Lua host tests: the standard
// start-up, plus the runner on the real output blocks. The client front comes from the build's
// program folder and runs the fake stock client, whose replies are set here.
#include "android/android_connect_manager.h"
#include "android/child_process.h"
#include "android/lua_android_connect_manager.h"
#include "qv/text.h"
#include "app/startup.h"
#include "qv/singleton_ex.h"
#include "test_env.h"

using namespace tiv::android;
using qv::design_pattern::singleton_ex;

namespace {

void register_adb(QVLRT_ENV env) {
  // The message window exists by now; the runner comes after it, as in the program.
  singleton_ex<CAndroidConnectManager>::acquire();
  RegisterAndroidConnectManager(env);
}

}  // namespace

int main() {
  // This host runs from build/<preset>/luahost/<test>/program/.
  const std::wstring build = executable_directory() + L"../../../";
  test::prepend_path(build + L"stage");
  test::set_env("TIVOREL_ADB", qv::text::wide_to_utf8(build + L"tests/android/fake_adb.exe"));
  // Every command goes to the stand-in, even where an ADB server answers on this machine.
  test::set_env("TIVOREL_ADB_PROTOCOL", "0");
  test::set_env("FAKE_ADB_REPLY_devices",
                "List of devices attached\nR58M1\tunauthorized\nemulator-5554\tdevice\n"
                "192.168.1.20:5555\toffline\nHT4A1\tdevice\n\n");
  test::set_env("FAKE_ADB_REPLY_install", "Performing Streamed Install\nSuccess\n");
  test::set_env("FAKE_ADB_REPLY_forward", "adb: error: device 'SER' not found");
  test::set_env("FAKE_ADB_REPLY_echo", "%ARGS%");

  app::HostHooks hooks;
  hooks.extra_registration = register_adb;
  app::HostMain(hooks);
  singleton_ex<CAndroidConnectManager>::release();
  return 0;
}
