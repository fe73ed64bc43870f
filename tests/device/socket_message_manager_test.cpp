// The request life cycle of the socket message manager on both targets, against a scripted agent
// on a thread of the test (the simulator-based tests cover the protocol in depth on Linux).
#include <gtest/gtest.h>

#include "device/socket_message_manager.h"

#include "agent_test_bytes.h"
#include "loop_helpers.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace device;
using device_test::be;
using device_test::run_until;
using device_test::settle;
namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

std::string render(const agent_values& args) {
  agent_value list = agent_value::make_array();
  list.items = args;
  return list.debug_string();
}

// Accepts one request connection, reads its frame, writes the reply bytes, then waits for the
// host to close (or closes first when asked).
class scripted_agent {
 public:
  scripted_agent(std::vector<std::uint8_t> reply, bool close_after_reply = false)
      : acceptor_(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
    port_ = acceptor_.local_endpoint().port();
    thread_ = std::thread([this, reply = std::move(reply), close_after_reply] {
      boost::system::error_code ec;
      tcp::socket c = acceptor_.accept(ec);
      if (ec) return;
      std::uint8_t header[6];
      asio::read(c, asio::buffer(header), ec);
      const std::uint32_t length = header[2] | (header[3] << 8) | (header[4] << 16) | (header[5] << 24);
      request_body_.resize(length);
      if (length) asio::read(c, asio::buffer(request_body_), ec);
      request_code_ = static_cast<std::uint16_t>(header[0] | (header[1] << 8));
      asio::write(c, asio::buffer(reply), ec);
      if (!close_after_reply) {
        char rest[64];
        while (!ec) c.read_some(asio::buffer(rest), ec);
      }
      host_closed_ = true;
    });
  }
  ~scripted_agent() {
    if (!host_closed_) {
      // Release a script still waiting for a client.
      boost::system::error_code ec;
      asio::io_context io;
      tcp::socket dummy(io);
      dummy.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port_), ec);
      thread_.join();
    } else {
      thread_.join();
    }
  }
  socket_message_manager::port_table ports() const { return {port_, 12158, 12159, 1}; }
  bool host_closed() const { return host_closed_; }
  std::uint16_t request_code() const { return request_code_; }
  const std::vector<std::uint8_t>& request_body() const { return request_body_; }

 private:
  asio::io_context io_;
  tcp::acceptor acceptor_;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> host_closed_{false};
  std::uint16_t request_code_ = 0;
  std::vector<std::uint8_t> request_body_;
};

std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace

TEST(SocketManagerLifeCycle, AListInThreeFramesCallsBackThreeTimesThenTheRequestIsReleased) {
  scripted_agent agent(concat({be::frame(14, be().u8(0).str("1").str("Ann").str("100")),
                               be::frame(14, be().u8(1).str("2").str("Bo").str("200")), be::frame(14, be().u8(2))}));
  socket_message_manager m("dev", agent.ports());
  std::vector<std::string> calls;
  const std::uint32_t id = m.send_message(
      65536 + 14, {request_argument::make_number(7), request_argument::make_string("x")},
      [&](const agent_values& args) { calls.push_back(render(args)); });
  EXPECT_EQ(1u, id);
  ASSERT_TRUE(run_until([&] { return m.request_count() == 0; }));
  EXPECT_EQ((std::vector<std::string>{"[5, 0, [{ID=\"1\", Name=\"Ann\", Number=\"100\"}]]",
                                      "[5, 1, [{ID=\"2\", Name=\"Bo\", Number=\"200\"}]]", "[5, 2]"}),
            calls);
  EXPECT_TRUE(run_until([&] { return agent.host_closed(); })) << "the connection is closed on release";
  EXPECT_EQ(14, agent.request_code());
  EXPECT_EQ((std::vector<std::uint8_t>{7, 0, 0, 0, 1, 0, 0, 0, 'x'}), agent.request_body());
  EXPECT_EQ(2u, m.send_message(1, {}, nullptr)) << "ids are never reused";
  m.cancel_all();
}

TEST(SocketManagerLifeCycle, CancelInsideTheFirstOfSeveralFramesInOneReceive) {
  scripted_agent agent(concat({be::frame(54, be().u8(0).str("a")), be::frame(54, be().u8(1).str("b")),
                               be::frame(54, be().u8(2))}));
  socket_message_manager m("dev", agent.ports());
  int calls = 0;
  std::uint32_t id = 0;
  id = m.send_message(54, {}, [&](const agent_values&) {
    ++calls;
    m.cancel(id);
  });
  ASSERT_TRUE(run_until([&] { return m.request_count() == 0; }));
  settle();
  EXPECT_EQ(1, calls);
  EXPECT_TRUE(run_until([&] { return agent.host_closed(); }));
}

TEST(SocketManagerLifeCycle, AnOversizedFrameEndsTheRequestAsAConnectionError) {
  scripted_agent agent(be().u16(14).u32(kMaxFrameBody + 1).u8(0).bytes);
  socket_message_manager m("dev", agent.ports());
  std::vector<std::string> calls;
  m.send_message(14, {}, [&](const agent_values& args) { calls.push_back(render(args)); });
  ASSERT_TRUE(run_until([&] { return m.request_count() == 0; }));
  EXPECT_EQ((std::vector<std::string>{"[6, \"dev\"]"}), calls);
  EXPECT_TRUE(run_until([&] { return agent.host_closed(); }));
}

TEST(SocketManagerLifeCycle, AnAgentClosingBeforeTheFinalFrameEndsTheRequestSilently) {
  std::vector<std::string> log;
  log_sink previous = set_log_sink([&](const std::string& line) { log.push_back(line); });
  scripted_agent agent(concat({be::frame(999, be().u8(0)), be::frame(4, be().u8(0))}), true);
  socket_message_manager m("dev", agent.ports());
  std::vector<std::string> calls;
  m.send_message(4, {}, [&](const agent_values& args) { calls.push_back(render(args)); });
  ASSERT_TRUE(run_until([&] { return m.request_count() == 0; }));
  set_log_sink(previous);
  EXPECT_EQ((std::vector<std::string>{"[5, 0, []]"}), calls);
  ASSERT_EQ(1u, log.size()) << "the unlisted code 999 is logged once";
  EXPECT_NE(std::string::npos, log[0].find("999"));
}

TEST(SocketManagerLifeCycle, ARefusedConnectionCallsBackOnce) {
  std::uint16_t closed_port = 0;
  {
    asio::io_context io;
    tcp::acceptor a(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    closed_port = a.local_endpoint().port();
  }
  socket_message_manager m("dev", {closed_port, 0, 0, 0});
  std::vector<std::string> calls;
  m.send_message(4, {}, [&](const agent_values& args) { calls.push_back(render(args)); });
  ASSERT_TRUE(run_until([&] { return m.request_count() == 0; }));
  settle();
  EXPECT_EQ((std::vector<std::string>{"[6, \"dev\"]"}), calls);
}
