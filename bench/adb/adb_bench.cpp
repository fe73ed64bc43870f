// Runs N GetDevices of "AndroidCon.Manager" from Lua (Lua object -> runner -> tivorel_help ->
// ADB server, the result parsed into a device list) and N direct runs of the stock client's
// "devices", against one ADB server on a private port, and prints both times and their ratio.
//   adb_bench [N]    (default 200; the staged tivorel_help is found beside ../../stage/)
// With --install, installs APK on the phone SERIAL of the server at ANDROID_ADB_SERVER_PORT
// (adb_install_bench.py sets one up) ROUNDS times each way, InstallAPK of "AndroidCon.Manager"
// against "adb -s SERIAL install -r APK", and prints the ratio.
//   adb_bench --install SERIAL APK [ROUNDS]
#include "free_port_posix.h"
#include "android/adb_commands.h"
#include "android/android_connect_manager.h"
#include "android/lua_android_connect_manager.h"
#include "android/child_process.h"
#include "qv/text.h"
#include "qv/message_loop.h"
#include "qv/singleton_ex.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace tiv::android;
using clock_type = std::chrono::steady_clock;

namespace {

using tiv_test::free_local_port;

std::string run_direct(const std::wstring& line) {
  process_options o;
  o.capture_output = true;
  auto p = child_process::start(line, o);
  if (!p) return "<not started>";
  std::string out;
  while (p->read_output(out, 20)) {
    if (p->wait(0)) {
      p->read_output(out, 0);
      break;
    }
  }
  p->wait(-1);
  return out;
}

int bench_done(lua_State*) {
  qv::loop::post_quit(0);
  return 0;
}

// Queues `count` GetDevices from Lua; the loop ends when every listener has run. Returns how many
// listeners got no device list.
int lua_get_devices(int count) {
  lua_State* L = QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0));
  const std::string code =
      "local M = _G['AndroidCon.Manager']\n"
      "left, missing = " + std::to_string(count) + ", 0\n"
      "for i = 1, left do\n"
      "  M:GetDevices('b', function(_, _, list)\n"
      "    if type(list) ~= 'table' then missing = missing + 1 end\n"
      "    left = left - 1\n"
      "    if left == 0 then bench_done() end\n"
      "  end)\n"
      "end\n";
  if (luaL_loadstring(L, code.c_str()) != 0 || QVLRT_LuaCall(L, 0, 0, "adb_bench") != 0) return count;
  qv::loop::run();
  lua_getglobal(L, "missing");
  const int missing = static_cast<int>(lua_tointeger(L, -1));
  lua_pop(L, 1);
  return missing;
}

// The result code InstallAPK gives its listener for a package that was installed.
constexpr int kInstallSuccess = 5;

// One InstallAPK from Lua; the code its listener got.
int lua_install(const std::string& serial, const std::string& apk) {
  lua_State* L = QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0));
  const std::string code =
      "local serial, apk = ...\n"
      "_G['AndroidCon.Manager']:InstallAPK(serial, 'i', apk, function(_, _, code)\n"
      "  install_code = code\n"
      "  bench_done()\n"
      "end)\n";
  if (luaL_loadstring(L, code.c_str()) != 0) return -1;
  lua_pushstring(L, serial.c_str());
  lua_pushstring(L, apk.c_str());
  if (QVLRT_LuaCall(L, 2, 0, "adb_bench") != 0) return -1;
  qv::loop::run();
  lua_getglobal(L, "install_code");
  const int result = static_cast<int>(lua_tointeger(L, -1));
  lua_pop(L, 1);
  return result;
}

// The message window and a runner behind "AndroidCon.Manager", set up as the program does it,
// for as long as the object lives.
class lua_runner_session {
 public:
  lua_runner_session()
      : window_(qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::acquire()) {
    window_->Create(L"TivorelAdbBenchMessageWnd");
    runner_ = std::make_unique<CAndroidConnectManager>("TivorelAdbBenchCommon" + std::to_string(::getpid()),
                                                       "TivorelAdbBenchQuick" + std::to_string(::getpid()));
    runner_->Start();
    RegisterAndroidConnectManager(QVLRT_GetEnv(0));
    lua_register(QVLRT_GetLuaState(QVLRT_GetRuntime(QVLRT_GetEnv(0), 0)), "bench_done", bench_done);
    CLuaAndroidConnectManager::Instance().SetRunner(runner_.get());
  }
  ~lua_runner_session() {
    CLuaAndroidConnectManager::Instance().SetRunner(nullptr);
    runner_.reset();
    window_->Destroy();
    qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::release();
  }
  lua_runner_session(const lua_runner_session&) = delete;
  lua_runner_session& operator=(const lua_runner_session&) = delete;

 private:
  hostbase::CMessageWindow* window_;
  std::unique_ptr<CAndroidConnectManager> runner_;
};

bool succeeded(const std::string& output) { return output.find("Success") != std::string::npos; }

int install_bench(const std::string& serial, const std::string& apk, int rounds) {
  const std::wstring wserial = qv::text::utf8_to_wide(serial);
  const std::wstring wapk = qv::text::utf8_to_wide(apk);
  const std::wstring direct_line = L"adb -s \"" + wserial + L"\" install -r \"" + wapk + L"\"";
  double direct_ms = 0;
  double runner_ms = 0;
  bool ok = true;
  {
    const lua_runner_session session;
    for (int round = 0; round < rounds; ++round) {
      const auto d0 = clock_type::now();
      const std::string direct = run_direct(direct_line);
      direct_ms += std::chrono::duration<double, std::milli>(clock_type::now() - d0).count();
      if (!succeeded(direct)) {
        std::printf("adb install failed: %s\n", direct.c_str());
        ok = false;
      }
      const auto r0 = clock_type::now();
      const int code = lua_install(serial, apk);
      runner_ms += std::chrono::duration<double, std::milli>(clock_type::now() - r0).count();
      if (code != kInstallSuccess) {
        std::printf("InstallAPK gave %d\n", code);
        ok = false;
      }
    }
  }
  std::printf("%d x InstallAPK of %s on %s: adb install %.1f ms, InstallAPK %.1f ms, ratio %.2f\n",
              rounds,
              apk.c_str(), serial.c_str(), direct_ms / rounds, runner_ms / rounds,
              runner_ms / direct_ms);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--install") {
    const std::string stage = qv::text::wide_to_utf8(executable_directory()) + "../../stage";
    const char* path = std::getenv("PATH");
    ::setenv("PATH", (stage + ":" + (path ? path : "")).c_str(), 1);
    return install_bench(argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 3);
  }
  const int n = argc > 1 ? std::atoi(argv[1]) : 200;
  const int port = free_local_port();
  ::setenv("ANDROID_ADB_SERVER_PORT", std::to_string(port).c_str(), 1);
  const std::string stage = qv::text::wide_to_utf8(executable_directory()) + "../../stage";
  const char* path = std::getenv("PATH");
  ::setenv("PATH", (stage + ":" + (path ? path : "")).c_str(), 1);

  run_direct(L"adb start-server");

  // Both ways take turns in rounds, so that a change of load on the machine meets both alike.
  constexpr int kRounds = 10;
  double direct_ms = 0;
  double runner_ms = 0;
  int empty = 0;
  {
    const lua_runner_session session;
    for (int round = 0; round < kRounds; ++round) {
      const int count = n / kRounds + (round < n % kRounds ? 1 : 0);
      const auto d0 = clock_type::now();
      for (int i = 0; i < count; ++i) run_direct(L"adb devices");
      direct_ms += std::chrono::duration<double, std::milli>(clock_type::now() - d0).count();

      const auto r0 = clock_type::now();
      if (count > 0) empty += lua_get_devices(count);
      runner_ms += std::chrono::duration<double, std::milli>(clock_type::now() - r0).count();
    }
  }

  run_direct(L"adb kill-server");
  std::printf("%d x devices: direct %.1f ms (%.2f ms each), GetDevices %.1f ms (%.2f ms each), "
              "ratio %.2f%s\n",
              n, direct_ms, direct_ms / n, runner_ms, runner_ms / n, runner_ms / direct_ms,
              empty ? " (some gave no device list!)" : "");
  return empty ? 1 : 0;
}
