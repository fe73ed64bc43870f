// The protocol side of the client front against a scripted ADB server: which commands it leaves
// to the stock client, and that every wait ends (a silent server, a device that goes away while
// a command runs, broken answers) with an error instead of a hang.
#include "native_commands.h"
#include "scripted_adb_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace adb_test;
using tivorel_help::console;
using tivorel_help::native_settings;
using tivorel_help::run_native;

std::string packet(char kind, const std::string& data) {
  std::string p(1, kind);
  const auto n = static_cast<std::uint32_t>(data.size());
  for (int i = 0; i < 4; ++i) p += static_cast<char>((n >> (8 * i)) & 0xFF);
  return p + data;
}

// A port on which nothing listens (taken and given back at once).
int closed_port() {
  asio::io_context io;
  tcp::acceptor a(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
  return a.local_endpoint().port();
}

struct result {
  std::optional<int> code;
  std::string text;
  std::string last_sink;
};

result run(const std::vector<std::string>& args, int port, std::size_t keep = 4004) {
  native_settings settings;
  settings.port = port;
  settings.answer_ms = 300;
  settings.slice_ms = 50;
  result r;
  console con([&r](const std::string& t) { r.last_sink = t; }, keep);
  r.code = run_native(args, settings, con);
  con.flush();
  r.text = con.text();
  return r;
}

// One of each command the client front runs itself (kill-server aside).
const std::vector<std::vector<std::string>> kOurCommands = {
    {"devices"},
    {"start-server"},
    {"get-state"},
    {"-s", "x", "shell", "echo"},
    {"-s", "x", "forward", "tcp:1", "tcp:2"},
    {"-s", "x", "install", "-r", "a.apk"},
    {"-s", "x", "uninstall", "p"},
    {"connect", "10.0.0.2:5555"},
    {"disconnect"},
};

TEST(TivorelHelpNative, LeavesOtherCommandsAndAMissingServerToTheStockClient) {
  const int nobody = closed_port();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"version"},
      {"devices", "-l"},
      {"forward", "--list"},
      {"-s", "x", "forward", "tcp:1", "localabstract:x"},
      {"-s", "x", "forward", "--no-rebind", "tcp:1", "tcp:2"},
      {"-s", "x", "shell"},
      {"-s", "x", "shell", "-t", "ls"},
      {"-s", "x", "install", "-t", "a.apk"},
      {"-s", "x", "install", "-r", "-d", "a.apk"},
      {"-s", "x", "uninstall", "-k", "p"},
      {"-d", "devices"},
      {"-s"},
      {"-s", "", "devices"},
      {"push", "a", "/sdcard/"},
  };
  // And the commands that would be ours, for no server answers: the stock client starts one.
  std::vector<std::vector<std::string>> all = cases;
  all.insert(all.end(), kOurCommands.begin(), kOurCommands.end());
  for (const auto& args : all) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    const result r = run(args, nobody);
    EXPECT_FALSE(r.code.has_value()) << line;
    EXPECT_EQ("", r.text) << line;
  }
  // Nor with a port the stock client would refuse.
  native_settings bad;
  bad.port = 0;
  console con(nullptr, 100);
  EXPECT_FALSE(run_native({"devices"}, bad, con).has_value());
  EXPECT_EQ(5037, tivorel_help::server_port_from(""));
  EXPECT_EQ(0, tivorel_help::server_port_from("70000"));
  EXPECT_EQ(0, tivorel_help::server_port_from("12a"));
  EXPECT_EQ(15037, tivorel_help::server_port_from("15037"));
}

// The stock client asks the server's version before a command and restarts a server of any
// other version; every command that would be ours goes to it then, with the version found.
TEST(TivorelHelpNative, ServerOfAnotherVersionGoesToTheStockClient) {
  const struct {
    std::string answer;  // to host:version
    std::string why;
  } versions[] = {
      {okay("0027"), "adb server version (39) doesn't match this client (41)"},
      {okay("002a"), "adb server version (42) doesn't match this client (41)"},
      {okay("41"), "adb server version ('41') doesn't match this client (41)"},
      {fail("unknown host service"),
       "adb server version (unknown: unknown host service) doesn't match this client (41)"},
  };
  for (const auto& v : versions) {
    scripted_server server;
    server.on("host:version", [&v](tcp::socket& s) { return send(s, v.answer) && false; });
    // Answers for every command, so that only the version sends it away.
    server.on("host:devices", [](tcp::socket& s) { return send(s, okay("")) && false; });
    for (const auto& args : kOurCommands) {
      std::string line;
      for (const auto& a : args) line += a + " ";
      SCOPED_TRACE(v.answer + " " + line);
      native_settings settings;
      settings.port = server.port();
      settings.answer_ms = 300;
      console con(nullptr, 4004);
      std::string why;
      EXPECT_FALSE(run_native(args, settings, con, &why).has_value());
      EXPECT_EQ("", con.text());
      EXPECT_EQ(v.why, why);
    }
  }
  // A server of our version runs the command here and gives no reason.
  scripted_server ours;
  ours.on("host:devices", [](tcp::socket& s) { return send(s, okay("")) && false; });
  native_settings settings;
  settings.port = ours.port();
  console con(nullptr, 4004);
  std::string why;
  EXPECT_EQ(0, run_native({"devices"}, settings, con, &why).value_or(-1));
  EXPECT_EQ("", why);
}

TEST(TivorelHelpNative, ServerVersionChecksAreBounded) {
  // kill-server asks no version, as the stock client's does not.
  scripted_server old(39);
  old.on("host:kill", [](tcp::socket& s) { return send(s, "OKAY") && false; });
  result r = run({"kill-server"}, old.port());
  EXPECT_EQ(0, r.code.value_or(-1));
  EXPECT_EQ("", r.text);
  // A server that never tells its version ends the command with an error.
  scripted_server silent;
  silent.on("host:version", [&](tcp::socket& s) { return hold(s, silent); });
  for (const char* command : {"devices", "start-server"}) {
    r = run({command}, silent.port());
    EXPECT_EQ(1, r.code.value_or(-1)) << command;
    EXPECT_EQ("error: the ADB server did not answer in time\n", r.text) << command;
  }
}

TEST(TivorelHelpNative, KillServerWithoutServerSaysSoAndSucceeds) {
  const int nobody = closed_port();
  const result r = run({"kill-server"}, nobody);
  ASSERT_TRUE(r.code.has_value());
  EXPECT_EQ(0, *r.code);
  const std::string head = "cannot connect to daemon at tcp:" + std::to_string(nobody) + ": ";
  EXPECT_EQ(head, r.text.substr(0, head.size())) << r.text;
}

TEST(TivorelHelpNative, ServerThatNeverAnswersEndsTheCommand) {
  scripted_server server;
  server.on("host:devices", [&](tcp::socket& s) { return hold(s, server); });
  const result r = run({"devices"}, server.port());
  ASSERT_TRUE(r.code.has_value());
  EXPECT_EQ(1, *r.code);
  EXPECT_EQ("error: the ADB server did not answer in time\n", r.text);
}

TEST(TivorelHelpNative, BrokenAnswersAreErrors) {
  struct broken_case {
    std::vector<std::string> args;
    std::string answer;
    std::string text;
  };
  const std::vector<broken_case> cases = {
      {{"devices"}, "WHAT", "error: protocol fault: expected OKAY or FAIL, got 'WHAT'\n"},
      {{"devices"}, "OKAYzz12", "error: protocol fault: bad length\n"},
      {{"devices"}, "OKAY0010short", "error: closed\n"},
      {{"get-state"}, "FAIL", "error: closed\n"},
  };
  for (const auto& c : cases) {
    scripted_server server;
    const std::string service = c.args[0] == "devices" ? "host:devices" : "host:get-state";
    server.on(service, [&](tcp::socket& s) { return send(s, c.answer) && false; });
    const result r = run(c.args, server.port());
    ASSERT_TRUE(r.code.has_value()) << c.answer;
    EXPECT_EQ(1, *r.code) << c.answer;
    EXPECT_EQ(c.text, r.text) << c.answer;
  }
}

// A device with shell protocol v2 whose shell answers with `reply` on the stream, and after a
// silence of several of the client's slices with `later`.
void shell_device(scripted_server& server, const std::string& reply, bool then_hold,
                  const std::string& later = {}) {
  server.on("host-serial:x:features", [](tcp::socket& s) { return send(s, okay("shell_v2")); });
  server.on("host:transport:x", [](tcp::socket& s) { return send(s, "OKAY"); });
  server.on("shell,v2,raw:run it", [&server, reply, then_hold, later](tcp::socket& s) {
    if (!send(s, "OKAY" + reply)) return false;
    if (!later.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      send(s, later);
    }
    if (then_hold) hold(s, server);
    return false;
  });
}

TEST(TivorelHelpNative, ShellV2Streams) {
  struct shell_case {
    const char* name;
    std::string reply;
    bool then_hold;
    std::string get_state;  // the server's answer to get-state
    std::string text;
    int code;
    std::string later = {};
  };
  const std::string big(10000, 'x');
  const std::vector<shell_case> cases = {
      {"output, errors and the exit status",
       packet(1, "out\n") + packet(2, "err\n") + packet(1, "more\n") + packet(3, std::string(1, '\x03')),
       false, okay("device"), "out\nerr\nmore\n", 3},
      {"a stream that ends without the exit status",
       packet(1, "out\n"), false, okay("device"), "out\nerror: closed\n", 1},
      {"a device that goes while the shell is silent",
       packet(1, "partial\n"), true, fail("device 'x' not found"),
       "partial\nerror: device 'x' not found\n", 1},
      {"a device that goes offline while the shell is silent",
       "", true, okay("offline"), "error: device offline\n", 1},
      {"a packet longer than any shell sends",
       std::string("\x01\xff\xff\xff\xff", 5), true, okay("device"),
       "error: protocol fault: shell packet too long\n", 1},
      {"a silent shell on a device in recovery goes on",
       packet(1, "early\n"), false, okay("recovery"), "early\nlate\n", 0,
       packet(1, "late\n") + packet(3, std::string(1, '\0'))},
      {"stdin packets from the device are ignored",
       packet(0, "?") + packet(1, "ok\n") + packet(3, std::string(1, '\0')), false, okay("device"),
       "ok\n", 0},
  };
  for (const auto& c : cases) {
    scripted_server server;
    shell_device(server, c.reply, c.then_hold, c.later);
    server.on("host-serial:x:get-state", [&c](tcp::socket& s) { return send(s, c.get_state) && false; });
    const result r = run({"-s", "x", "shell", "run", "it"}, server.port());
    ASSERT_TRUE(r.code.has_value()) << c.name;
    EXPECT_EQ(c.code, *r.code) << c.name;
    EXPECT_EQ(c.text, r.text) << c.name;
    EXPECT_EQ(r.text, r.last_sink) << c.name;  // the block saw every byte of it
  }
  // Output beyond what the block holds is read to the end and dropped.
  scripted_server server;
  shell_device(server, packet(1, big) + packet(3, std::string(1, '\0')), false);
  const result r = run({"-s", "x", "shell", "run", "it"}, server.port(), 4004);
  ASSERT_TRUE(r.code.has_value());
  EXPECT_EQ(0, *r.code);
  EXPECT_EQ(std::string(4004, 'x'), r.text);
}

TEST(TivorelHelpNative, StreamedInstallToADeviceThatStopsTakingDataEnds) {
  // Big enough to fill the socket buffers of both sides.
  const std::filesystem::path apk =
      std::filesystem::temp_directory_path() /
      ("tivorel_help_test_" + std::to_string(closed_port()) + ".apk");
  {
    std::ofstream f(apk, std::ios::binary);
    const std::string chunk(1 << 20, 'a');
    for (int i = 0; i < 32; ++i) f << chunk;
  }
  scripted_server server;
  server.on("host-serial:x:features", [](tcp::socket& s) { return send(s, okay("shell_v2,cmd")); });
  server.on("host:transport:x", [](tcp::socket& s) { return send(s, "OKAY"); });
  server.on("exec:cmd package install -r -S " + std::to_string(32 << 20),
            [&](tcp::socket& s) { return send(s, "OKAY") && hold(s, server); });
  server.on("host-serial:x:get-state",
            [](tcp::socket& s) { return send(s, fail("device 'x' not found")) && false; });
  const std::string path = apk.u8string();
  const result r = run({"-s", "x", "install", "-r", path}, server.port());
  std::filesystem::remove(apk);
  ASSERT_TRUE(r.code.has_value());
  EXPECT_EQ(1, *r.code);
  EXPECT_EQ("adb: failed to install " + path + ": device 'x' not found\nPerforming Streamed Install\n",
            r.text);
}

TEST(TivorelHelpNative, ForwardNamesWhyTheServerRefused) {
  scripted_server server;
  server.on("host-serial:x:forward:tcp:1;tcp:2", [](tcp::socket& s) { return send(s, fail("")) && false; });
  server.on("host-serial:x:get-state",
            [](tcp::socket& s) { return send(s, fail("device unauthorized.\nmore")) && false; });
  server.on("host-serial:y:forward:tcp:1;tcp:2",
            [](tcp::socket& s) { return send(s, "OKAY" + okay("1")) && false; });
  server.on("host-serial:z:forward:tcp:1;tcp:2", [](tcp::socket& s) { return send(s, "OKAYOKAY") && false; });
  result r = run({"-s", "x", "forward", "tcp:1", "tcp:2"}, server.port());
  ASSERT_TRUE(r.code.has_value());
  EXPECT_EQ(1, *r.code);
  EXPECT_EQ("adb: error: device unauthorized.\nmore\n", r.text);
  r = run({"-s", "y", "forward", "tcp:1", "tcp:2"}, server.port());
  EXPECT_EQ(0, r.code.value_or(-1));
  EXPECT_EQ("1\n", r.text);
  // A server that names no port.
  r = run({"-s", "z", "forward", "tcp:1", "tcp:2"}, server.port());
  EXPECT_EQ(0, r.code.value_or(-1));
  EXPECT_EQ("", r.text);
}

}  // namespace
