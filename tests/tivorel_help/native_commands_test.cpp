// The protocol side of the client front against a scripted ADB server: which commands it leaves
// to the stock client, and that every wait ends (a silent server, a device that goes away while
// a command runs, broken answers) with an error instead of a hang.
#include "native_commands.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using tivorel_help::console;
using tivorel_help::native_settings;
using tivorel_help::run_native;

std::string hex4(std::size_t n) {
  char b[8];
  std::snprintf(b, sizeof b, "%04zx", n);
  return b;
}
std::string okay(const std::string& text) { return "OKAY" + hex4(text.size()) + text; }
std::string fail(const std::string& text) { return "FAIL" + hex4(text.size()) + text; }
std::string packet(char kind, const std::string& data) {
  std::string p(1, kind);
  const auto n = static_cast<std::uint32_t>(data.size());
  for (int i = 0; i < 4; ++i) p += static_cast<char>((n >> (8 * i)) & 0xFF);
  return p + data;
}

// A server that answers each connection's requests by the script: service -> handler. A
// handler writes what it likes and returns true to read the next request on the same
// connection ("host:transport:..." then the device service), false to close it.
class scripted_server {
 public:
  using handler = std::function<bool(tcp::socket&)>;

  scripted_server() : acceptor_(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
    thread_ = std::thread([this] { accept_loop(); });
  }
  ~scripted_server() {
    stopping_ = true;
    boost::system::error_code ec;
    // A connection to itself wakes the acceptor.
    tcp::socket waker(io_);
    waker.connect(acceptor_.local_endpoint(), ec);
    thread_.join();
    for (auto& t : sessions_) t.join();
  }

  int port() const { return acceptor_.local_endpoint().port(); }
  void on(const std::string& service, handler h) { script_[service] = std::move(h); }
  // Handlers that hold a connection open wait for this.
  std::atomic<bool> stopping_{false};

 private:
  void accept_loop() {
    for (;;) {
      tcp::socket s(io_);
      boost::system::error_code ec;
      acceptor_.accept(s, ec);
      if (stopping_ || ec) return;
      sessions_.emplace_back([this, sock = std::move(s)]() mutable { serve(sock); });
    }
  }

  void serve(tcp::socket& s) {
    for (;;) {
      char len[4];
      boost::system::error_code ec;
      asio::read(s, asio::buffer(len), ec);
      if (ec) return;
      std::string service(std::stoul(std::string(len, 4), nullptr, 16), '\0');
      asio::read(s, asio::buffer(service), ec);
      if (ec) return;
      auto it = script_.find(service);
      if (it == script_.end()) {
        asio::write(s, asio::buffer(fail("unknown service " + service)), ec);
        return;
      }
      if (!it->second(s)) return;
    }
  }

  asio::io_context io_;
  tcp::acceptor acceptor_;
  std::map<std::string, handler> script_;
  std::thread thread_;
  std::vector<std::thread> sessions_;
};

bool send(tcp::socket& s, const std::string& data) {
  boost::system::error_code ec;
  asio::write(s, asio::buffer(data), ec);
  return !ec;
}

// Keeps a connection open and silent until the server goes.
bool hold(tcp::socket&, scripted_server& server) {
  while (!server.stopping_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return false;
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
      // native commands, but no server answers: the stock client starts one
      {"devices"},
      {"start-server"},
      {"get-state"},
      {"-s", "x", "shell", "echo"},
      {"-s", "x", "forward", "tcp:1", "tcp:2"},
      {"-s", "x", "install", "-r", "a.apk"},
      {"-s", "x", "uninstall", "p"},
  };
  for (const auto& args : cases) {
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
