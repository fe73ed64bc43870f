#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "listener.h"

namespace catalogue_test {
namespace {

int bound_socket(std::uint16_t& port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (s >= 0) ::close(s);
    return -1;
  }
  port = ntohs(a.sin_port);
  return s;
}

}  // namespace

silent_listener::silent_listener() {
  const int s = bound_socket(port_);
  if (s >= 0 && ::listen(s, 4) == 0) socket_ = s;
  else if (s >= 0) ::close(s);
}

silent_listener::~silent_listener() {
  if (client_ >= 0) ::close(static_cast<int>(client_));
  if (socket_ >= 0) ::close(static_cast<int>(socket_));
}

bool silent_listener::accept_one(unsigned ms) {
  if (socket_ < 0) return false;
  pollfd p{static_cast<int>(socket_), POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(ms)) != 1) return false;
  const int c = ::accept(static_cast<int>(socket_), nullptr, nullptr);
  if (c < 0) return false;
  client_ = c;
  return true;
}

std::uint16_t closed_port() {
  std::uint16_t port = 0;
  const int s = bound_socket(port);
  if (s >= 0) ::close(s);
  return port;
}

}  // namespace catalogue_test
