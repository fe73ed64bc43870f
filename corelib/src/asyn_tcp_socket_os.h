// The operating-system side of asyn_tcp_socket: one implementation per target
// (asyn_tcp_socket_os_win32.cpp, asyn_tcp_socket_os_posix.cpp). Both report to the socket's window with
// the messages and the lParam layout of WSAAsyncSelect: event in the low word, Windows Sockets
// error number in the high word.
#pragma once

#include "qv/message_loop.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qv::win32::net::os {

constexpr unsigned kMsgNetwork = qv::loop::kWmUser + 1;  // wParam = token, lParam = event | error << 16
constexpr unsigned kMsgLookup = qv::loop::kWmUser + 2;   // wParam = token, lParam = error << 16
constexpr unsigned kMsgError = qv::loop::kWmUser + 3;    // wParam = error

// Network event bits, as Windows Sockets numbers them.
constexpr unsigned kFdRead = 0x01;
constexpr unsigned kFdWrite = 0x02;
constexpr unsigned kFdOob = 0x04;
constexpr unsigned kFdAccept = 0x08;
constexpr unsigned kFdConnect = 0x10;
constexpr unsigned kFdClose = 0x20;
constexpr unsigned kFdAll = 0x3F;

constexpr std::uint32_t kAddressNone = 0xFFFFFFFFu;  // INADDR_NONE

inline qv::loop::lparam_t make_select_lparam(unsigned event, int error) {
  return static_cast<qv::loop::lparam_t>((static_cast<std::uint32_t>(error & 0xFFFF) << 16) |
                                         (event & 0xFFFF));
}
inline unsigned select_event(qv::loop::lparam_t lp) {
  return static_cast<unsigned>(static_cast<std::uintptr_t>(lp) & 0xFFFF);
}
inline int select_error(qv::loop::lparam_t lp) {
  return static_cast<int>((static_cast<std::uintptr_t>(lp) >> 16) & 0xFFFF);
}

// One TCP socket registered for notifications to a window. Destroying it switches the
// notifications off and closes the socket.
class socket_os {
 public:
  // A socket whose events (kFdAll) go to window as kMsgNetwork. Null with error set on failure.
  static std::unique_ptr<socket_os> create(qv::loop::window_handle window, int& error);
  virtual ~socket_os() = default;
  // The wParam of this socket's notifications; never shared by two live sockets.
  virtual std::uintptr_t token() const = 0;
  // 0 when connected or on the way (wsa::kWouldBlock counts as on the way), else the error.
  virtual int connect(std::uint32_t address_n, std::uint16_t port) = 0;
  // 0 with written set, or an error number (wsa::kWouldBlock when the peer cannot take more).
  virtual int send(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written) = 0;
  // 0 with got set (0 bytes = orderly close), or an error number (wsa::kWouldBlock for none yet).
  virtual int recv(std::uint8_t* data, std::uint32_t size, std::uint32_t& got) = 0;
  // Both ends; zero where unknown.
  virtual void names(std::uint32_t& local_address, std::uint16_t& local_port,
                     std::uint32_t& peer_address, std::uint16_t& peer_port) = 0;
};

// One asynchronous IPv4 name lookup reporting kMsgLookup to a window. Destroying it before it
// reported cancels it.
class lookup_os {
 public:
  static std::unique_ptr<lookup_os> start(qv::loop::window_handle window, const std::string& host,
                                          int& error);
  virtual ~lookup_os() = default;
  virtual std::uintptr_t token() const = 0;
  // Called once its kMsgLookup arrived: the first address found (network order), or
  // kAddressNone when the answer holds none.
  virtual std::uint32_t finish() = 0;
};

// inet_addr: a dotted IPv4 address in network order, kAddressNone when host is not one.
std::uint32_t parse_dotted(const std::string& host);

}  // namespace qv::win32::net::os
