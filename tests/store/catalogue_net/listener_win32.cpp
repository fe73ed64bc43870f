#include <winsock2.h>

#include "listener.h"

namespace catalogue_test {
namespace {

struct winsock {
  winsock() {
    WSADATA d;
    WSAStartup(MAKEWORD(2, 2), &d);
  }
  ~winsock() { WSACleanup(); }
};

SOCKET bound_socket(std::uint16_t& port) {
  static winsock ws;
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (s != INVALID_SOCKET) ::closesocket(s);
    return INVALID_SOCKET;
  }
  port = ntohs(a.sin_port);
  return s;
}

}  // namespace

silent_listener::silent_listener() {
  const SOCKET s = bound_socket(port_);
  if (s != INVALID_SOCKET && ::listen(s, 4) == 0) socket_ = static_cast<std::intptr_t>(s);
  else if (s != INVALID_SOCKET) ::closesocket(s);
}

silent_listener::~silent_listener() {
  if (client_ >= 0) ::closesocket(static_cast<SOCKET>(client_));
  if (socket_ >= 0) ::closesocket(static_cast<SOCKET>(socket_));
}

bool silent_listener::accept_one(unsigned ms) {
  if (socket_ < 0) return false;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(static_cast<SOCKET>(socket_), &set);
  timeval tv{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
  if (::select(0, &set, nullptr, nullptr, &tv) != 1) return false;
  const SOCKET c = ::accept(static_cast<SOCKET>(socket_), nullptr, nullptr);
  if (c == INVALID_SOCKET) return false;
  client_ = static_cast<std::intptr_t>(c);
  return true;
}

std::uint16_t closed_port() {
  std::uint16_t port = 0;
  const SOCKET s = bound_socket(port);
  if (s != INVALID_SOCKET) ::closesocket(s);
  return port;
}

}  // namespace catalogue_test
