// Non-blocking BSD sockets on the message loop. Readiness waits on the loop are turned into the
// notifications WSAAsyncSelect would post, with the same re-enabling rules: one read notification
// until the next receive (at once when the receive may have left data), a write notification
// after connecting and after a send that would block, one close notification at the end of the
// stream. Names are resolved off the loop thread
// by the Asio resolver; its answer comes back through the loop as a lookup message.
#include "asyn_tcp_socket_os.h"

#include "qv/asyn_tcp_socket.h"
#include "qv/message_loop_posix.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace qv::win32::net::os {
namespace {

int wsa_from_errno(int e) {
  switch (e) {
    case EINTR: return wsa::kInterrupted;
    case EBADF: return 10009;  // WSAEBADF
    case EACCES: return wsa::kAccessDenied;
    case EFAULT: return 10014;  // WSAEFAULT
    case EINVAL: return wsa::kInvalid;
    case EMFILE:
    case ENFILE: return wsa::kTooManySockets;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS: return wsa::kWouldBlock;
    case EALREADY: return 10037;       // WSAEALREADY
    case ENOTSOCK: return 10038;       // WSAENOTSOCK
    case EDESTADDRREQ: return 10039;   // WSAEDESTADDRREQ
    case EMSGSIZE: return 10040;       // WSAEMSGSIZE
    case EPROTOTYPE: return 10041;     // WSAEPROTOTYPE
    case ENOPROTOOPT: return 10042;    // WSAENOPROTOOPT
    case EPROTONOSUPPORT: return 10043;  // WSAEPROTONOSUPPORT
    case EOPNOTSUPP: return 10045;     // WSAEOPNOTSUPP
    case EAFNOSUPPORT: return 10047;   // WSAEAFNOSUPPORT
    case EADDRINUSE: return wsa::kAddressInUse;
    case EADDRNOTAVAIL: return wsa::kAddressNotAvailable;
    case ENETDOWN: return wsa::kNetworkDown;
    case ENETUNREACH: return wsa::kNetworkUnreachable;
    case ENETRESET: return 10052;      // WSAENETRESET
    case ECONNABORTED: return wsa::kConnectionAborted;
    case ECONNRESET:
    case EPIPE: return wsa::kConnectionReset;
    case ENOBUFS:
    case ENOMEM: return wsa::kNoBuffers;
    case EISCONN: return 10056;        // WSAEISCONN
    case ENOTCONN: return wsa::kNotConnected;
    case ESHUTDOWN: return 10058;      // WSAESHUTDOWN
    case ETIMEDOUT: return wsa::kTimedOut;
    case ECONNREFUSED: return wsa::kConnectionRefused;
    case EHOSTDOWN: return 10064;      // WSAEHOSTDOWN
    case EHOSTUNREACH: return wsa::kHostUnreachable;
    default: return wsa::kInvalid;
  }
}

// Handles are serial numbers, never reused, so a notification queued for a closed socket cannot
// be taken for a later one that happens to get the same descriptor.
std::uintptr_t next_token() {
  static std::atomic<std::uintptr_t> counter{0x1000};
  return ++counter;
}

class posix_socket final : public socket_os {
 public:
  posix_socket(qv::loop::window_handle window, int fd)
      : window_(window), fd_(fd), token_(next_token()), watch_(std::make_unique<qv::loop::posix::fd_watch>(fd)) {}

  ~posix_socket() override {
    watch_.reset();  // cancels the waits before the descriptor goes away
    ::close(fd_);
  }

  std::uintptr_t token() const override { return token_; }

  int connect(std::uint32_t address_n, std::uint16_t port) override {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address_n;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
      connected(0);
      return 0;
    }
    const int e = errno;
    if (e != EINPROGRESS && e != EINTR) return wsa_from_errno(e);
    watch_->wait_writable([this](bool) {
      int so_error = 0;
      socklen_t len = sizeof so_error;
      if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) so_error = errno;
      connected(so_error);
    });
    return wsa::kWouldBlock;
  }

  int send(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written) override {
    written = 0;
    ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      written = static_cast<std::uint32_t>(n);
      return 0;
    }
    const int e = errno;
    if (e == EAGAIN || e == EWOULDBLOCK) {
      arm_write();
      return wsa::kWouldBlock;
    }
    return wsa_from_errno(e);
  }

  int recv(std::uint8_t* data, std::uint32_t size, std::uint32_t& got) override {
    got = 0;
    ssize_t n = ::recv(fd_, data, size, MSG_DONTWAIT);
    if (n > 0) {
      got = static_cast<std::uint32_t>(n);
      // Receiving re-enables the read notification. A read that filled the whole request most
      // likely left more waiting: that is announced at once, as Windows Sockets does when data
      // remains, without a trip through the poller and a probe for each piece.
      if (got == size && !read_armed_ && !close_posted_) {
        post(kFdRead, 0);
      } else {
        arm_read();
      }
      return 0;
    }
    if (n == 0) return 0;
    const int e = errno;
    if (e == EAGAIN || e == EWOULDBLOCK || e == EINTR) {
      arm_read();
      return wsa::kWouldBlock;
    }
    return wsa_from_errno(e);
  }

  void names(std::uint32_t& local_address, std::uint16_t& local_port, std::uint32_t& peer_address,
             std::uint16_t& peer_port) override {
    local_address = peer_address = 0;
    local_port = peer_port = 0;
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) == 0 && sa.sin_family == AF_INET) {
      local_address = sa.sin_addr.s_addr;
      local_port = ntohs(sa.sin_port);
    }
    sa = sockaddr_in{};
    len = sizeof sa;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&sa), &len) == 0 && sa.sin_family == AF_INET) {
      peer_address = sa.sin_addr.s_addr;
      peer_port = ntohs(sa.sin_port);
    }
  }

 private:
  void post(unsigned event, int error) {
    qv::loop::post_message(window_, kMsgNetwork, token_, make_select_lparam(event, error));
  }

  void connected(int so_error) {
    if (so_error != 0) {
      post(kFdConnect, wsa_from_errno(so_error));
      return;
    }
    post(kFdConnect, 0);
    post(kFdWrite, 0);  // a fresh connection can take data
    arm_read();
  }

  void arm_read() {
    if (read_armed_ || close_posted_) return;
    read_armed_ = true;
    watch_->wait_readable([this](bool) {
      read_armed_ = false;
      std::uint8_t probe;
      ssize_t n = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
      if (n > 0) {
        post(kFdRead, 0);  // the next one is armed by the receive that takes this data
      } else if (n == 0) {
        close_posted_ = true;
        post(kFdClose, 0);
      } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        arm_read();
      } else {
        close_posted_ = true;
        post(kFdClose, wsa_from_errno(errno));
      }
    });
  }

  void arm_write() {
    if (write_armed_) return;
    write_armed_ = true;
    watch_->wait_writable([this](bool) {
      write_armed_ = false;
      post(kFdWrite, 0);
    });
  }

  qv::loop::window_handle window_;
  int fd_;
  std::uintptr_t token_;
  // Its waits capture this object; destroying the watch first guarantees none runs later.
  std::unique_ptr<qv::loop::posix::fd_watch> watch_;
  bool read_armed_ = false;
  bool write_armed_ = false;
  bool close_posted_ = false;
};

int wsa_from_resolver(const boost::system::error_code& ec) {
  namespace e = boost::asio::error;
  if (ec == e::host_not_found) return wsa::kHostNotFound;
  if (ec == e::host_not_found_try_again) return wsa::kTryAgain;
  if (ec == e::no_recovery) return wsa::kNoRecovery;
  if (ec == e::no_data) return wsa::kNoData;
  if (ec.category() == boost::system::system_category()) return wsa_from_errno(ec.value());
  return wsa::kNoRecovery;
}

// Shared between the lookup object and the resolver's completion, which may run after the
// lookup was cancelled and destroyed.
struct lookup_state {
  explicit lookup_state(boost::asio::io_context& io) : resolver(io) {}
  boost::asio::ip::tcp::resolver resolver;
  std::uint32_t address = kAddressNone;
  bool cancelled = false;
};

class posix_lookup final : public lookup_os {
 public:
  posix_lookup(qv::loop::window_handle window, const std::string& host)
      : token_(next_token()), state_(std::make_shared<lookup_state>(qv::loop::posix::context())) {
    auto st = state_;
    const std::uintptr_t token = token_;
    st->resolver.async_resolve(
        boost::asio::ip::tcp::v4(), host, std::string(),
        [st, window, token](const boost::system::error_code& ec,
                            boost::asio::ip::tcp::resolver::results_type results) {
          if (st->cancelled) return;
          int error = 0;
          if (ec) {
            error = wsa_from_resolver(ec);
          } else {
            for (const auto& entry : results) {
              const auto& a = entry.endpoint().address();
              if (a.is_v4()) {
                st->address = htonl(a.to_v4().to_uint());
                break;
              }
            }
          }
          qv::loop::post_message(window, kMsgLookup, token, make_select_lparam(0, error));
        });
  }

  ~posix_lookup() override {
    state_->cancelled = true;
    state_->resolver.cancel();
  }

  std::uintptr_t token() const override { return token_; }
  std::uint32_t finish() override { return state_->address; }

 private:
  std::uintptr_t token_;
  std::shared_ptr<lookup_state> state_;
};

}  // namespace

std::unique_ptr<socket_os> socket_os::create(qv::loop::window_handle window, int& error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = wsa_from_errno(errno);
    return nullptr;
  }
  error = 0;
  return std::make_unique<posix_socket>(window, fd);
}

std::unique_ptr<lookup_os> lookup_os::start(qv::loop::window_handle window, const std::string& host,
                                            int& error) {
  error = 0;
  return std::make_unique<posix_lookup>(window, host);
}

std::uint32_t parse_dotted(const std::string& host) { return ::inet_addr(host.c_str()); }

}  // namespace qv::win32::net::os
