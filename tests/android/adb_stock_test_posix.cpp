// The runner and the client front with the real stock ADB client. The ADB server runs on a
// private port, so that a server of the user's is never touched, and is killed at the end.
#include "free_port_posix.h"
#include "android/adb_commands.h"
#include "android/adb_output.h"
#include "runner_fixture.h"
#include "scripted_adb_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tiv::android;
using namespace tiv::android::test;

namespace {

using tiv_test::free_local_port;

bool something_listens(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

class StockAdb : public RunnerTest {
 protected:
  static void SetUpTestSuite() {
    port = free_local_port();
    set_env("ANDROID_ADB_SERVER_PORT", std::to_string(port));
    unset_env("TIVOREL_ADB");  // the stock client from PATH
    prepend_path(stage_dir());
  }

  static void TearDownTestSuite() {
    // Whatever happened in the tests, the private server goes.
    process_options quiet;
    quiet.capture_output = true;  // "cannot connect" when it is already gone
    if (auto p = child_process::start(L"adb kill-server", quiet)) {
      std::string ignored;
      while (p->read_output(ignored, 100) && !p->wait(0)) {
      }
      p->wait(20000);
    }
  }

  // Runs one command line and returns its output.
  std::wstring run(const std::wstring& line) {
    const std::size_t before = cb.results.size();
    const int id = runner->AddCommand(&cb, line, 0, 0, 60000);
    EXPECT_TRUE(run_until(before + 1));
    if (cb.results.size() <= before) return L"<no result>";
    EXPECT_EQ(id, cb.results.back().first);
    return cb.results.back().second;
  }

  static int port;
};

int StockAdb::port = 0;

}  // namespace

TEST_F(StockAdb, ServerDevicesForwardAndKill) {
  ASSERT_NE(0, port);
  runner->Start();

  run(adb_start_server_command());
  EXPECT_TRUE(something_listens(port)) << "no ADB server on port " << port;

  const std::wstring devices = run(adb_devices_command());
  RecordProperty("devices_output", qv::text::wide_to_utf8(devices));
  EXPECT_NE(std::wstring::npos, devices.find(L"List of devices attached")) << qv::text::wide_to_utf8(devices);
  EXPECT_TRUE(parse_device_list(devices).empty()) << qv::text::wide_to_utf8(devices);

  const std::wstring forward = run(adb_forward_command(L"TIVOREL-NO-SUCH-DEVICE", 47100, 12156));
  EXPECT_NE(std::wstring::npos, forward.find(L"error")) << qv::text::wide_to_utf8(forward);
  EXPECT_EQ(kAdbFailure, result_code(kAdbForward, forward));

  run(adb_kill_server_command());
  EXPECT_FALSE(something_listens(port));
}

// A server of an older version on the port (left by another tool): the command goes to the
// stock client, which says which version it found, restarts the server and runs the command.
TEST_F(StockAdb, ServerOfAnotherVersionIsRestartedAndNamed) {
  adb_test::scripted_server old(39);
  old.on("host:kill", [&old](adb_test::tcp::socket& s) {
    adb_test::send(s, "OKAY");
    old.stop_listening();
    return false;
  });
  set_env("ANDROID_ADB_SERVER_PORT", std::to_string(old.port()));
  runner->Start();
  const std::wstring devices = run(adb_devices_command());
  // The server the stock client started in its place goes too.
  const std::wstring killed = run(adb_kill_server_command());
  const bool left = something_listens(old.port());
  set_env("ANDROID_ADB_SERVER_PORT", std::to_string(port));
  EXPECT_NE(std::wstring::npos,
            devices.find(L"adb server version (39) doesn't match this client (41); killing..."))
      << qv::text::wide_to_utf8(devices);
  EXPECT_NE(std::wstring::npos, devices.find(L"List of devices attached"))
      << qv::text::wide_to_utf8(devices);
  EXPECT_FALSE(left) << qv::text::wide_to_utf8(killed);
}
