// A loopback TCP listener that accepts and then says nothing, and a port where nobody listens.
#pragma once

#include <cstdint>

namespace catalogue_test {

class silent_listener {
 public:
  silent_listener();
  ~silent_listener();
  silent_listener(const silent_listener&) = delete;
  silent_listener& operator=(const silent_listener&) = delete;

  std::uint16_t port() const { return port_; }
  // Waits up to ms for a client and keeps its connection open; whether one came.
  bool accept_one(unsigned ms);

 private:
  std::intptr_t socket_ = -1;
  std::intptr_t client_ = -1;
  std::uint16_t port_ = 0;
};

// A loopback port that was free a moment ago (bound, then closed).
std::uint16_t closed_port();

}  // namespace catalogue_test
