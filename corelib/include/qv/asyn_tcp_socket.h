// A single-threaded, non-blocking TCP client connection driven by window messages.
//
// Each bound socket owns a hidden notification window; connect, read, write and close events,
// name lookup results and deferred errors arrive there as messages, so every notification to the
// owner runs on the thread that created the socket. There are no time-outs: a connection
// attempt or a silent peer lasts until the network reports something or the owner closes.
//
// The owner may call send, close_connection or teardown, or destroy the socket, from inside any
// notification; the socket touches none of its state afterwards.
#pragma once

#include "qv/message_loop.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qv::win32::net {

// Windows Sockets error numbers reported through on_error (the same on every target).
namespace wsa {
constexpr int kInterrupted = 10004;     // WSAEINTR
constexpr int kAccessDenied = 10013;    // WSAEACCES
constexpr int kInvalid = 10022;         // WSAEINVAL
constexpr int kTooManySockets = 10024;  // WSAEMFILE
constexpr int kWouldBlock = 10035;      // WSAEWOULDBLOCK
constexpr int kAddressInUse = 10048;    // WSAEADDRINUSE
constexpr int kAddressNotAvailable = 10049;  // WSAEADDRNOTAVAIL
constexpr int kNetworkDown = 10050;     // WSAENETDOWN
constexpr int kNetworkUnreachable = 10051;  // WSAENETUNREACH
constexpr int kConnectionAborted = 10053;   // WSAECONNABORTED
constexpr int kConnectionReset = 10054;     // WSAECONNRESET
constexpr int kNoBuffers = 10055;       // WSAENOBUFS
constexpr int kNotConnected = 10057;    // WSAENOTCONN
constexpr int kTimedOut = 10060;        // WSAETIMEDOUT
constexpr int kConnectionRefused = 10061;   // WSAECONNREFUSED
constexpr int kHostUnreachable = 10065;     // WSAEHOSTUNREACH
constexpr int kHostNotFound = 11001;    // WSAHOST_NOT_FOUND
constexpr int kTryAgain = 11002;        // WSATRY_AGAIN
constexpr int kNoRecovery = 11003;      // WSANO_RECOVERY
constexpr int kNoData = 11004;          // WSANO_DATA
}  // namespace wsa

// The owner's sink. The socket does not own it.
class asyn_tcp_socket_event {
 public:
  virtual ~asyn_tcp_socket_event() = default;
  // The connection is established. Addresses are IPv4 in network byte order, ports host order.
  virtual void on_connected(std::uint32_t local_address, std::uint16_t local_port,
                            std::uint32_t peer_address, std::uint16_t peer_port) = 0;
  // The whole block handed to send has been written; length is its size.
  virtual void on_sent(std::uint32_t length) = 0;
  // data/size: everything received and not yet consumed, oldest byte first. consumed is preset to
  // size; set it to the number of leading bytes used up (0 keeps everything for next time).
  virtual void on_received(const std::uint8_t* data, std::uint32_t size, std::uint32_t& consumed) = 0;
  // The connection failed with a Windows Sockets error number; it is already closed.
  virtual void on_error(std::int32_t code) = 0;
  // The peer closed the connection in an orderly way; it is already closed.
  virtual void on_closed() = 0;
};

namespace os {
class socket_os;
class lookup_os;
}  // namespace os

class asyn_tcp_socket {
 public:
  enum state_type : int {
    kIdle = 0,
    kResolving = 1,
    kConnecting = 2,
    kConnected = 3,
    kFailed = 4,  // an error notification is on its way
  };

  // Largest piece taken from the network per read notification.
  static constexpr std::uint32_t kReadChunk = 40960;

  explicit asyn_tcp_socket(asyn_tcp_socket_event* owner);
  // Tears down (no notification) if the owner has not done so.
  ~asyn_tcp_socket();
  asyn_tcp_socket(const asyn_tcp_socket&) = delete;
  asyn_tcp_socket& operator=(const asyn_tcp_socket&) = delete;

  // Creates the notification window and remembers where to connect. False if already bound,
  // host is empty, port is 0 or the window cannot be made. Nothing goes on the network.
  bool bind(const std::string& host, std::uint16_t port);
  // Queues one block and connects first when needed. False (nothing changes) when unbound, when
  // a previous block is still being written, or data is null or length 0. On an established
  // connection the block is written at once and on_sent or on_error may run before this returns.
  bool send(const void* data, std::uint32_t length);
  // Drops the connection and any pending lookup, empties both buffers; stays bound (state 0).
  void close_connection();
  // close_connection, then destroys the window and forgets host and port. No notification.
  void teardown();

  int state() const { return state_; }
  bool bound() const { return window_ != nullptr; }
  const std::string& host() const { return host_; }
  std::uint16_t port() const { return port_; }

 private:
  static qv::loop::lresult_t window_proc(void* user, qv::loop::window_handle w, unsigned msg,
                                          qv::loop::wparam_t wp, qv::loop::lparam_t lp);
  qv::loop::lresult_t handle_message(qv::loop::window_handle w, unsigned msg, qv::loop::wparam_t wp,
                                     qv::loop::lparam_t lp);
  void on_network_event(unsigned event, int error);
  void on_lookup_done(int error);
  void start_step();
  void connect_step();
  void flush_step();
  // One receive; false when nothing more can be read now (would block, closed, failed or gone).
  bool read_step();
  // Makes room for one read chunk behind the unconsumed bytes.
  void make_receive_room();
  void drop_received();
  void fail_later(int error);
  void fail_now(int error);

  qv::loop::window_handle window_ = nullptr;
  int state_ = kIdle;
  asyn_tcp_socket_event* owner_;
  std::unique_ptr<os::socket_os> socket_;
  std::vector<std::uint8_t> send_buffer_;
  std::uint32_t send_position_ = 0;
  // Received bytes not yet consumed: [receive_head_, receive_tail_) of one block. Receiving
  // appends behind them and consuming moves the head, so that in the usual case (the owner
  // takes everything) no byte is cleared or moved.
  std::unique_ptr<std::uint8_t[]> receive_block_;
  std::size_t receive_capacity_ = 0;
  std::size_t receive_head_ = 0;
  std::size_t receive_tail_ = 0;
  std::string host_;
  std::uint16_t port_ = 0;
  std::uint32_t address_;
  std::unique_ptr<os::lookup_os> lookup_;
  // Cleared by the destructor; notifications keep a copy to learn whether the owner destroyed
  // the socket while it was being called.
  std::shared_ptr<bool> alive_;
};

}  // namespace qv::win32::net
