// asyn_tcp_socket against a loopback server running blocking sockets on its own thread. The
// socket is driven by the message loop on the test's thread, as the program drives it.
#include "asyn_tcp_socket_test_support.h"

using namespace qv::win32::net;
using namespace socket_test;

TEST(AsynTcpSocket, RefusesBadBindAndSendWithoutChangingAnything) {
  recorder r;
  asyn_tcp_socket s(&r);
  EXPECT_FALSE(send_text(s, "x")) << "unbound";
  EXPECT_FALSE(s.bind("", 80));
  EXPECT_FALSE(s.bind("127.0.0.1", 0));
  EXPECT_FALSE(s.bound());
  ASSERT_TRUE(s.bind("127.0.0.1", 9));
  EXPECT_FALSE(s.bind("127.0.0.1", 10)) << "already bound";
  EXPECT_EQ(9, s.port());
  EXPECT_FALSE(s.send(nullptr, 1));
  EXPECT_FALSE(s.send("x", 0));
  EXPECT_EQ(asyn_tcp_socket::kIdle, s.state());
  s.teardown();
  EXPECT_FALSE(s.bound());
  EXPECT_TRUE(s.host().empty());
  EXPECT_EQ(0, s.port());
  EXPECT_TRUE(r.events.empty());
}

TEST(AsynTcpSocket, BlockSentBeforeConnectGoesOutAfterConnectingToADottedAddress) {
  std::string got;
  loopback_server server([&](tcp::acceptor& a) {
    tcp::socket c = a.accept();
    got = read_exactly(c, 11);
    read_to_end(c);  // a close of ours would race with the quit message
  });
  recorder r;
  asyn_tcp_socket s(&r);
  r.sent_hook = [] { qv::loop::post_quit(0); };
  ASSERT_TRUE(s.bind("127.0.0.1", server.port()));
  ASSERT_TRUE(send_text(s, "hello world"));
  EXPECT_EQ(asyn_tcp_socket::kConnecting, s.state()) << "a dotted address needs no lookup";
  EXPECT_FALSE(send_text(s, "second")) << "one block at a time";
  ASSERT_TRUE(run_loop());
  EXPECT_EQ((strings{"connected", "sent 11"}), r.events);
  EXPECT_EQ(kLoopback, r.peer_address);
  EXPECT_EQ(server.port(), r.peer_port);
  EXPECT_EQ(kLoopback, r.local_address);
  EXPECT_NE(0, r.local_port);
  EXPECT_EQ(asyn_tcp_socket::kConnected, s.state());
  s.close_connection();
  server.join();
  EXPECT_EQ("hello world", got) << "the first block stays intact";
  EXPECT_EQ("", server.failure());
}

TEST(AsynTcpSocket, SendFromInsideOnSentIsAcceptedAndLargeBlocksArriveWhole) {
  // Large enough that the kernel cannot take it at once, so writing waits for writability.
  const std::string big = [] {
    std::string b(4 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>(i * 7 + i / 251);
    return b;
  }();
  std::string got;
  loopback_server server([&](tcp::acceptor& a) {
    tcp::socket c = a.accept();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the sender's buffers fill up
    got = read_to_end(c);
  });
  recorder r;
  asyn_tcp_socket s(&r);
  int sent = 0;
  r.sent_hook = [&] {
    if (++sent == 1) {
      EXPECT_TRUE(send_text(s, "tail"));
    } else {
      s.close_connection();
      qv::loop::post_quit(0);
    }
  };
  ASSERT_TRUE(s.bind("127.0.0.1", server.port()));
  ASSERT_TRUE(send_text(s, big));
  ASSERT_TRUE(run_loop());
  server.join();
  EXPECT_EQ((strings{"connected", "sent " + std::to_string(big.size()), "sent 4"}), r.events);
  EXPECT_TRUE(got == big + "tail") << "received " << got.size() << " bytes";
}

TEST(AsynTcpSocket, DataIsDeliveredBeforeTheCloseAndTheBindingSurvivesIt) {
  std::string second;
  loopback_server server([&](tcp::acceptor& a) {
    {
      tcp::socket c = a.accept();
      read_exactly(c, 2);
      write_all(c, "reply data");
    }  // closes
    tcp::socket c = a.accept();
    second = read_exactly(c, 5);
    read_to_end(c);  // a close of ours would race with the quit message
  });
  recorder r;
  asyn_tcp_socket s(&r);
  r.closed_hook = [&] {
    EXPECT_EQ(asyn_tcp_socket::kIdle, s.state());
    EXPECT_TRUE(s.bound());
    EXPECT_TRUE(send_text(s, "again")) << "the next send connects again";
  };
  r.sent_hook = [&] {
    if (r.events.size() > 3) qv::loop::post_quit(0);
  };
  ASSERT_TRUE(s.bind("127.0.0.1", server.port()));
  ASSERT_TRUE(send_text(s, "hi"));
  ASSERT_TRUE(run_loop());
  s.close_connection();
  server.join();
  ASSERT_GE(r.events.size(), 4u);
  EXPECT_EQ("reply data", r.received);
  EXPECT_EQ("closed", r.events[r.events.size() - 3]);
  EXPECT_EQ((strings{"connected", "sent 5"}), strings(r.events.end() - 2, r.events.end()));
  EXPECT_EQ("again", second);
}

TEST(AsynTcpSocket, ConsumedDecidesWhatStaysInTheReceiveBuffer) {
  // The server sends the next piece only after the client acknowledges the previous view, so
  // each view is exactly what the previous consumed value left plus one piece.
  const strings pieces{"ab", "cd", "ef", "gh", "ij"};
  loopback_server server([&](tcp::acceptor& a) {
    tcp::socket c = a.accept();
    read_exactly(c, 1);  // the request that opened the connection
    for (const auto& p : pieces) {
      write_all(c, p);
      read_exactly(c, 1);
    }
  });
  struct step {
    std::string expected_view;
    std::int64_t consumed;  // -1 leaves the preset value
  };
  const std::vector<step> steps{
      {"ab", 0},         // keep everything
      {"abcd", 1},       // drop one byte
      {"bcdef", -1},     // preset: drop everything
      {"gh", 100},       // more than there is: leave the buffer alone
      {"ghij", -1},
  };
  recorder r;
  asyn_tcp_socket s(&r);
  std::size_t index = 0;
  r.received_hook = [&](const std::string& view, std::uint32_t& consumed) {
    ASSERT_LT(index, steps.size());
    EXPECT_EQ(steps[index].expected_view, view) << "step " << index;
    EXPECT_EQ(view.size(), consumed) << "preset to the whole buffer";
    if (steps[index].consumed >= 0) consumed = static_cast<std::uint32_t>(steps[index].consumed);
    if (++index == steps.size()) {
      qv::loop::post_quit(0);
    } else {
      EXPECT_TRUE(send_text(s, "k"));
    }
  };
  ASSERT_TRUE(s.bind("127.0.0.1", server.port()));
  ASSERT_TRUE(send_text(s, "k"));
  ASSERT_TRUE(run_loop());
  EXPECT_EQ(steps.size(), index);
  s.close_connection();
  server.join();
}

TEST(AsynTcpSocket, ReceivesArriveInPiecesOfAtMostOneReadChunk) {
  std::string payload(300000, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i % 253);
  loopback_server server([&](tcp::acceptor& a) {
    tcp::socket c = a.accept();
    read_exactly(c, 2);  // unread data would turn the close into a reset
    write_all(c, payload);
  });
  recorder r;
  asyn_tcp_socket s(&r);
  r.closed_hook = [] { qv::loop::post_quit(0); };
  ASSERT_TRUE(s.bind("127.0.0.1", server.port()));
  ASSERT_TRUE(send_text(s, "go"));
  ASSERT_TRUE(run_loop());
  server.join();
  EXPECT_TRUE(r.received == payload) << r.received.size() << " bytes";
  EXPECT_LE(r.largest_view, asyn_tcp_socket::kReadChunk);
  EXPECT_EQ("closed", r.events.back());
}

namespace {

enum class owner_action { destroy, teardown, close_connection };

struct action_case {
  const char* name;
  owner_action action;
};

class AsynTcpSocketOwnerAction : public ::testing::TestWithParam<action_case> {};

}  // namespace

// The owner ends the socket from inside on_received while more data and the peer's close are
// still on their way; nothing more may reach the owner, and nothing may touch the freed socket.
TEST_P(AsynTcpSocketOwnerAction, EndingTheSocketInsideOnReceivedStopsEverything) {
  loopback_server server([&](tcp::acceptor& a) {
    tcp::socket c = a.accept();
    write_all(c, "first");
    read_to_end(c);  // until the client goes away
  });
  recorder r;
  auto s = std::make_unique<asyn_tcp_socket>(&r);
  r.received_hook = [&](const std::string&, std::uint32_t& consumed) {
    consumed = 0;
    switch (GetParam().action) {
      case owner_action::destroy:
        s.reset();
        break;
      case owner_action::teardown:
        s->teardown();
        break;
      case owner_action::close_connection:
        s->close_connection();
        break;
    }
    quit_after_grace();
  };
  ASSERT_TRUE(s->bind("127.0.0.1", server.port()));
  ASSERT_TRUE(send_text(*s, "go"));
  ASSERT_TRUE(run_loop());
  EXPECT_EQ((strings{"connected", "sent 2", "received first"}), r.events);
  if (s) {
    EXPECT_EQ(asyn_tcp_socket::kIdle, s->state());
    EXPECT_EQ(GetParam().action == owner_action::close_connection, s->bound());
  }
  s.reset();
  server.join();
}

INSTANTIATE_TEST_SUITE_P(Actions, AsynTcpSocketOwnerAction,
                         ::testing::Values(action_case{"destroy", owner_action::destroy},
                                           action_case{"teardown", owner_action::teardown},
                                           action_case{"close_connection", owner_action::close_connection}),
                         [](const ::testing::TestParamInfo<action_case>& info) { return info.param.name; });

TEST(AsynTcpSocket, DestroyingTheSocketWhileThePeerClosesTouchesNothing) {
  // Data and the peer's close arrive together: the socket may be reading inside its close
  // handling when the owner destroys it.
  loopback_server server([&](tcp::acceptor& a) {
    tcp::socket c = a.accept();
    read_exactly(c, 2);
    write_all(c, std::string(100000, 'z'));
  });
  recorder r;
  auto s = std::make_unique<asyn_tcp_socket>(&r);
  r.received_hook = [&](const std::string&, std::uint32_t&) {
    s.reset();
    quit_after_grace();
  };
  ASSERT_TRUE(s->bind("127.0.0.1", server.port()));
  ASSERT_TRUE(send_text(*s, "go"));
  ASSERT_TRUE(run_loop());
  server.join();
  EXPECT_EQ(nullptr, s);
  ASSERT_EQ(3u, r.events.size());
  EXPECT_EQ("received", r.events.back().substr(0, 8));
}

TEST(AsynTcpSocket, ConnectionRefusedIsReportedOnceAndLeavesTheSocketBound) {
  std::uint16_t closed_port = 0;
  {
    asio::io_context io;
    tcp::acceptor a(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    closed_port = a.local_endpoint().port();
  }  // nobody listens there any more
  recorder r;
  asyn_tcp_socket s(&r);
  r.error_hook = [] { quit_after_grace(); };
  ASSERT_TRUE(s.bind("127.0.0.1", closed_port));
  ASSERT_TRUE(send_text(s, "lost"));
  ASSERT_TRUE(run_loop());
  EXPECT_EQ((strings{"error " + std::to_string(wsa::kConnectionRefused)}), r.events);
  EXPECT_EQ(asyn_tcp_socket::kIdle, s.state());
  EXPECT_TRUE(s.bound());
}

TEST(AsynTcpSocket, ANameLookedUpOnceIsTakenFromTheHostCacheAfterwards) {
  // "localhost" is looked up by this test only, so the first socket has to resolve it.
  loopback_server server([&](tcp::acceptor& a) {
    for (int i = 0; i < 2; ++i) {
      tcp::socket c = a.accept();
      read_exactly(c, 3);
      // Until the client goes away: a close of ours would race with the quit message.
      read_to_end(c);
    }
  });
  for (int round = 0; round < 2; ++round) {
    recorder r;
    asyn_tcp_socket s(&r);
    r.sent_hook = [] { qv::loop::post_quit(0); };
    ASSERT_TRUE(s.bind("localhost", server.port()));
    ASSERT_TRUE(send_text(s, "abc"));
    EXPECT_EQ(round == 0 ? asyn_tcp_socket::kResolving : asyn_tcp_socket::kConnecting, s.state())
        << "round " << round;
    ASSERT_TRUE(run_loop());
    EXPECT_EQ((strings{"connected", "sent 3"}), r.events);
    EXPECT_EQ(kLoopback, r.peer_address);
  }
  server.join();
}

TEST(AsynTcpSocket, AFailedLookupIsReportedOnceWithALookupError) {
  recorder r;
  asyn_tcp_socket s(&r);
  r.error_hook = [] { quit_after_grace(); };
  ASSERT_TRUE(s.bind("no-such-host.invalid", 80));
  ASSERT_TRUE(send_text(s, "x"));
  EXPECT_EQ(asyn_tcp_socket::kResolving, s.state());
  ASSERT_TRUE(run_loop());
  ASSERT_EQ(1u, r.events.size());
  const int code = std::stoi(r.events[0].substr(6));
  EXPECT_TRUE(code >= wsa::kHostNotFound && code <= wsa::kNoData) << r.events[0];
  EXPECT_EQ(asyn_tcp_socket::kIdle, s.state());
}

TEST(AsynTcpSocket, ClosingDuringTheLookupCancelsItQuietly) {
  recorder r;
  {
    asyn_tcp_socket s(&r);
    ASSERT_TRUE(s.bind("cancelled-lookup.invalid", 80));
    ASSERT_TRUE(send_text(s, "x"));
    EXPECT_EQ(asyn_tcp_socket::kResolving, s.state());
    s.close_connection();
    EXPECT_EQ(asyn_tcp_socket::kIdle, s.state());
    quit_after_grace();
    ASSERT_TRUE(run_loop());
  }
  EXPECT_TRUE(r.events.empty());
}
