// The ADB server's socket protocol, as a client speaks it: a request is four hex digits of length
// and the service name; the answer is "OKAY", or "FAIL" with a hex-length message. After an
// OKAY to "host:transport:..." the connection belongs to one device and takes a device service.
#pragma once

#include "server_socket_os.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tivorel_help {

// How long a connection to the local server may take: a listening server accepts at once, and
// Windows takes about a second to report that nothing listens.
constexpr int kConnectMs = 5000;

enum class wire_status {
  okay,
  fail,        // the server refused; the message says why
  no_server,   // nothing listens on the port
  io_error,    // the connection broke or the server stopped answering
};

struct wire_result {
  wire_status status = wire_status::okay;
  std::string message;  // the server's FAIL text, or what went wrong
  bool ok() const { return status == wire_status::okay; }
};

// Four lowercase hex digits of n (n < 65536).
std::string hex4(std::size_t n);
// The value of four hex digits, or -1.
long parse_hex4(const char* p);

class server_connection {
 public:
  // Connects to the server on 127.0.0.1:port; each answer of the server may take answer_ms.
  static std::unique_ptr<server_connection> open(int port, int answer_ms, wire_result& result);

  // Sends a request and reads OKAY or FAIL.
  wire_result request(const std::string& service);
  // Reads OKAY or FAIL (a second status, as "forward" sends).
  wire_result read_status();
  // Reads a hex-length string. `closed_ok` turns an end of stream before it into an empty okay.
  wire_result read_hex_string(std::string& text, bool closed_ok = false);

  // Exact reads and writes bounded by timeout_ms for each wait; timed_out when it passes.
  os::io_status read_exact(char* buffer, std::size_t size, int timeout_ms);
  os::io_status write_all(const char* data, std::size_t size, std::size_t& sent, int timeout_ms) {
    return socket_->send_all(data, size, sent, timeout_ms);
  }
  os::io_status write_all(const char* data, std::size_t size, int timeout_ms) {
    std::size_t sent = 0;
    return socket_->send_all(data, size, sent, timeout_ms);
  }
  os::io_status read_some(char* buffer, std::size_t capacity, std::size_t& got, int timeout_ms) {
    return socket_->receive_some(buffer, capacity, got, timeout_ms);
  }

 private:
  server_connection(std::unique_ptr<os::server_socket> s, int answer_ms)
      : socket_(std::move(s)), answer_ms_(answer_ms) {}
  std::unique_ptr<os::server_socket> socket_;
  int answer_ms_;
};

}  // namespace tivorel_help
