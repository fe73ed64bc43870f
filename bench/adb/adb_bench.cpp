// Runs N "devices" commands through the ADB runner (runner -> tivorel_help -> ADB server) and N
// direct runs of the stock client's "devices", against one ADB server on a private port, and
// prints both times and their ratio.
//   adb_bench [N]    (default 200; the staged tivorel_help is found beside ../../stage/)
// With --install, installs APK on the phone SERIAL of the server at ANDROID_ADB_SERVER_PORT
// (adb_install_bench.py sets one up) ROUNDS times each way, the runner's InstallAPK command
// line against "adb -s SERIAL install -r APK", and prints the ratio.
//   adb_bench --install SERIAL APK [ROUNDS]
#include "android/adb_commands.h"
#include "android/android_connect_manager.h"
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
#include <string>

using namespace tiv::android;
using clock_type = std::chrono::steady_clock;

namespace {

int free_local_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  ::close(fd);
  return port;
}

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

struct counter : AndroidConnectCallback {
  int left = 0;
  int empty = 0;
  std::wstring last;
  void OnResult(int, std::wstring& output) override {
    if (output.empty()) ++empty;
    last = output;
    if (--left == 0) qv::loop::post_quit(0);
  }
};

bool succeeded(const std::string& output) { return output.find("Success") != std::string::npos; }

int install_bench(const std::string& serial, const std::string& apk, int rounds) {
  const std::wstring wserial = qv::text::utf8_to_wide(serial);
  const std::wstring wapk = qv::text::utf8_to_wide(apk);
  const std::wstring direct_line = L"adb -s \"" + wserial + L"\" install -r \"" + wapk + L"\"";
  double direct_ms = 0;
  double runner_ms = 0;
  bool ok = true;
  hostbase::CMessageWindow* window = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::acquire();
  window->Create(L"TivorelAdbBenchMessageWnd");
  {
    CAndroidConnectManager runner("TivorelAdbBenchCommon" + std::to_string(::getpid()),
                                  "TivorelAdbBenchQuick" + std::to_string(::getpid()));
    runner.Start();
    for (int round = 0; round < rounds; ++round) {
      const auto d0 = clock_type::now();
      const std::string direct = run_direct(direct_line);
      direct_ms += std::chrono::duration<double, std::milli>(clock_type::now() - d0).count();
      if (!succeeded(direct)) {
        std::printf("adb install failed: %s\n", direct.c_str());
        ok = false;
      }
      counter c;
      c.left = 1;
      const auto r0 = clock_type::now();
      runner.AddCommand(&c, adb_install_command(wserial, wapk), 0, 0, -1);
      qv::loop::run();
      runner_ms += std::chrono::duration<double, std::milli>(clock_type::now() - r0).count();
      if (!succeeded(qv::text::wide_to_utf8(c.last))) {
        std::printf("InstallAPK failed: %s\n", qv::text::wide_to_utf8(c.last).c_str());
        ok = false;
      }
    }
  }
  window->Destroy();
  qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::release();
  std::printf("%d x install of %s on %s: direct %.1f ms, runner %.1f ms, ratio %.2f\n", rounds,
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
  hostbase::CMessageWindow* window = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::acquire();
  window->Create(L"TivorelAdbBenchMessageWnd");
  {
    CAndroidConnectManager runner("TivorelAdbBenchCommon" + std::to_string(::getpid()),
                                  "TivorelAdbBenchQuick" + std::to_string(::getpid()));
    runner.Start();
    for (int round = 0; round < kRounds; ++round) {
      const int count = n / kRounds + (round < n % kRounds ? 1 : 0);
      const auto d0 = clock_type::now();
      for (int i = 0; i < count; ++i) run_direct(L"adb devices");
      direct_ms += std::chrono::duration<double, std::milli>(clock_type::now() - d0).count();

      counter c;
      c.left = count;
      const auto r0 = clock_type::now();
      for (int i = 0; i < count; ++i) runner.AddCommand(&c, adb_devices_command(), 0, 0, -1);
      if (count > 0) qv::loop::run();
      runner_ms += std::chrono::duration<double, std::milli>(clock_type::now() - r0).count();
      empty += c.empty;
    }
  }
  window->Destroy();
  qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::release();

  run_direct(L"adb kill-server");
  std::printf("%d x devices: direct %.1f ms (%.2f ms each), runner %.1f ms (%.2f ms each), "
              "ratio %.2f%s\n",
              n, direct_ms, direct_ms / n, runner_ms, runner_ms / n, runner_ms / direct_ms,
              empty ? " (some outputs were empty!)" : "");
  return empty ? 1 : 0;
}
