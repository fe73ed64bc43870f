#include "startup_os.h"

#include "qv/command_line.h"
#include "qv/message_loop.h"
#include "qv/message_loop_posix.h"
#include "qv/text.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace app::os {
namespace {

std::unique_ptr<boost::asio::signal_set>& signals() {
  static std::unique_ptr<boost::asio::signal_set> s;
  return s;
}

}  // namespace

bool start_network() { return true; }
void stop_network() {}

void install_quit_signals() {
  auto& s = signals();
  if (s) return;
  s = std::make_unique<boost::asio::signal_set>(qv::loop::posix::context(), SIGINT, SIGTERM);
  s->async_wait([](const boost::system::error_code& ec, int) {
    if (!ec) qv::loop::post_quit(0);
  });
}

void remove_quit_signals() {
  auto& s = signals();
  if (!s) return;
  boost::system::error_code ec;
  s->cancel(ec);
  s.reset();
}

}  // namespace app::os
