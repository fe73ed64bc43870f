// The one TCP connection to the local ADB server that a command needs, over the OS's sockets.
// Every call is bounded by the time-out it is given.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace tivorel_help::os {

enum class io_status { ok, closed, timed_out, failed };

class server_socket {
 public:
  virtual ~server_socket() = default;
  // Sends all of data; timed_out when the peer took nothing for timeout_ms. `sent` tells how
  // much went out, so that the caller may go on after a time-out.
  virtual io_status send_all(const char* data, std::size_t size, std::size_t& sent,
                             int timeout_ms) = 0;
  // Receives what is there, at most capacity bytes (capacity > 0), after waiting up to
  // timeout_ms for the first byte; closed at the end of the stream.
  virtual io_status receive_some(char* buffer, std::size_t capacity, std::size_t& got,
                                 int timeout_ms) = 0;
};

// Connects to 127.0.0.1:port. On failure: null, `refused` set when nothing listens there, and
// `why` the system's words for it (e.g. "Connection refused").
std::unique_ptr<server_socket> connect_loopback(int port, int timeout_ms, bool& refused,
                                                std::string& why);

}  // namespace tivorel_help::os
