// What the POSIX layer adds on its own: errors of the BSD sockets reach the owner as the Windows
// Sockets numbers that the rest of the program expects. (On Windows these come from Winsock.)
#include "asyn_tcp_socket_test_support.h"

using namespace qv::win32::net;
using namespace socket_test;

TEST(AsynTcpSocket, ResetByThePeerIsAnError) {
  loopback_server server([&](tcp::acceptor& a) {
    tcp::socket c = a.accept();
    read_exactly(c, 2);
    c.set_option(asio::socket_base::linger(true, 0));  // close with a reset
    c.close();
  });
  recorder r;
  asyn_tcp_socket s(&r);
  r.error_hook = [] { quit_after_grace(); };
  r.closed_hook = [] { quit_after_grace(); };
  ASSERT_TRUE(s.bind("127.0.0.1", server.port()));
  ASSERT_TRUE(send_text(s, "go"));
  ASSERT_TRUE(run_loop());
  server.join();
  EXPECT_EQ((strings{"connected", "sent 2", "error " + std::to_string(wsa::kConnectionReset)}), r.events);
}
