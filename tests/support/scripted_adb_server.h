// A fake ADB server on an ephemeral loopback port that answers each request by a script, for the
// tests of the client front and of the runner over it.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#endif

namespace adb_test {

namespace asio = boost::asio;
using asio::ip::tcp;

// The programs a test starts (the stock client, and the server it leaves running) must not
// inherit the fake's sockets, or its port stays taken after the fake has closed it.
template <typename Socket>
void not_inherited(Socket& s) {
#ifdef _WIN32
  const SOCKET handle = s.native_handle();
  ::SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
#else
  ::fcntl(s.native_handle(), F_SETFD, FD_CLOEXEC);
#endif
}

inline std::string hex4(std::size_t n) {
  char b[8];
  std::snprintf(b, sizeof b, "%04zx", n);
  return b;
}
inline std::string okay(const std::string& text) { return "OKAY" + hex4(text.size()) + text; }
inline std::string fail(const std::string& text) { return "FAIL" + hex4(text.size()) + text; }

inline bool send(tcp::socket& s, const std::string& data) {
  boost::system::error_code ec;
  asio::write(s, asio::buffer(data), ec);
  return !ec;
}

// A server that answers each connection's requests by the script: service -> handler. A
// handler writes what it likes and returns true to read the next request on the same
// connection ("host:transport:..." then the device service), false to close it. It answers
// "host:version" with `version` (the version of today's stock clients unless told otherwise).
class scripted_server {
 public:
  using handler = std::function<bool(tcp::socket&)>;

  explicit scripted_server(int version = 41)
      : acceptor_(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)),
        port_(acceptor_.local_endpoint().port()) {
    not_inherited(acceptor_);
    on("host:version", [version](tcp::socket& s) {
      return send(s, okay(hex4(static_cast<std::size_t>(version)))) && false;
    });
    thread_ = std::thread([this] { accept_loop(); });
  }
  ~scripted_server() {
    stopping_ = true;
    stop_listening();
    thread_.join();
    for (auto& t : sessions_) t.join();
  }
  scripted_server(const scripted_server&) = delete;
  scripted_server& operator=(const scripted_server&) = delete;

  int port() const { return port_; }
  void on(const std::string& service, handler h) {
    std::lock_guard<std::mutex> lock(script_lock_);
    script_[service] = std::move(h);
  }

  // Closes the listening socket, as a server that ends does; open connections stay.
  void stop_listening() {
    if (closing_.exchange(true)) return;
    // A connection to itself wakes the acceptor, which then closes.
    boost::system::error_code ec;
    asio::io_context io;
    tcp::socket waker(io);
    waker.connect(tcp::endpoint(asio::ip::address_v4::loopback(), static_cast<unsigned short>(port_)),
                  ec);
    while (!closed_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  // Handlers that hold a connection open wait for this.
  std::atomic<bool> stopping_{false};

 private:
  void accept_loop() {
    for (;;) {
      tcp::socket s(io_);
      boost::system::error_code ec;
      acceptor_.accept(s, ec);
      if (closing_ || ec) break;
      not_inherited(s);
      sessions_.emplace_back([this, sock = std::move(s)]() mutable { serve(sock); });
    }
    boost::system::error_code ec;
    acceptor_.close(ec);
    closed_ = true;
  }

  void serve(tcp::socket& s) {
    for (;;) {
      char len[4];
      boost::system::error_code ec;
      asio::read(s, asio::buffer(len), ec);
      if (ec) return;
      std::string service(std::stoul(std::string(len, 4), nullptr, 16), '\0');
      asio::read(s, asio::buffer(service), ec);
      if (ec) return;
      handler h;
      {
        std::lock_guard<std::mutex> lock(script_lock_);
        auto it = script_.find(service);
        if (it != script_.end()) h = it->second;
      }
      if (!h) {
        send(s, fail("unknown service " + service));
        return;
      }
      if (!h(s)) return;
    }
  }

  asio::io_context io_;
  tcp::acceptor acceptor_;
  int port_;
  std::mutex script_lock_;
  std::map<std::string, handler> script_;
  std::atomic<bool> closing_{false};
  std::atomic<bool> closed_{false};
  std::thread thread_;
  std::vector<std::thread> sessions_;
};

// Keeps a connection open and silent until the server goes.
inline bool hold(tcp::socket&, scripted_server& server) {
  while (!server.stopping_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return false;
}

}  // namespace adb_test
