#include "server_socket_os.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tivorel_help::os {
namespace {

// Waits for the events on fd; false on time-out. EINTR only shortens the wait.
bool wait_for(int fd, short events, int timeout_ms) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int r = ::poll(&p, 1, timeout_ms);
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return true;  // the next call reports the error
  }
}

class posix_socket final : public server_socket {
 public:
  explicit posix_socket(int fd) : fd_(fd) {}
  ~posix_socket() override { ::close(fd_); }
  posix_socket(const posix_socket&) = delete;
  posix_socket& operator=(const posix_socket&) = delete;

  io_status send_all(const char* data, std::size_t size, std::size_t& sent,
                     int timeout_ms) override {
    sent = 0;
    while (size > 0) {
      const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
      if (n > 0) {
        data += n;
        size -= static_cast<std::size_t>(n);
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!wait_for(fd_, POLLOUT, timeout_ms)) return io_status::timed_out;
        continue;
      }
      return (errno == EPIPE || errno == ECONNRESET) ? io_status::closed : io_status::failed;
    }
    return io_status::ok;
  }

  io_status receive_some(char* buffer, std::size_t capacity, std::size_t& got,
                         int timeout_ms) override {
    got = 0;
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer, capacity, 0);
      if (n > 0) {
        got = static_cast<std::size_t>(n);
        return io_status::ok;
      }
      if (n == 0) return io_status::closed;
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (!wait_for(fd_, POLLIN, timeout_ms)) return io_status::timed_out;
        continue;
      }
      return errno == ECONNRESET ? io_status::closed : io_status::failed;
    }
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<server_socket> connect_loopback(int port, int timeout_ms, bool& refused,
                                                std::string& why) {
  refused = false;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    why = std::strerror(errno);
    return nullptr;
  }
  auto sock = std::make_unique<posix_socket>(fd);
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  int err = 0;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    err = errno;
    if (err == EINPROGRESS || err == EINTR) {
      if (!wait_for(fd, POLLOUT, timeout_ms)) {
        why = "Connection timed out";
        return nullptr;
      }
      socklen_t len = sizeof err;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    }
  }
  if (err != 0) {
    refused = err == ECONNREFUSED;
    why = std::strerror(err);
    return nullptr;
  }
  return sock;
}

}  // namespace tivorel_help::os
