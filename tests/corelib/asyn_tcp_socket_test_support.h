// Shared by the socket tests: a loopback server on its own thread with blocking sockets, a
// recorder of notifications, and loop helpers with a safety watchdog.
#pragma once
#include <gtest/gtest.h>

#include "qv/asyn_tcp_socket.h"
#include "qv/message_loop.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace socket_test {

namespace asio = boost::asio;
using asio::ip::tcp;

inline constexpr std::uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 in network order (little-endian hosts)

// A server on 127.0.0.1 that runs one script on its own thread with blocking calls.
class loopback_server {
 public:
  using script = std::function<void(tcp::acceptor&)>;

  explicit loopback_server(script s) : acceptor_(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
    port_ = acceptor_.local_endpoint().port();
    thread_ = std::thread([this, s = std::move(s)] {
      try {
        s(acceptor_);
      } catch (const std::exception& e) {
        failure_ = e.what();
      }
      done_ = true;
    });
  }

  ~loopback_server() { join(); }

  // Waits for the script; a script still waiting for a client is released by dummy clients,
  // which it sees as connections that end at once.
  void join() {
    if (!thread_.joinable()) return;
    while (!done_) {
      try {
        asio::io_context io;
        tcp::socket dummy(io);
        dummy.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port_));
      } catch (const std::exception&) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    thread_.join();
  }

  std::uint16_t port() const { return port_; }
  const std::string& failure() const { return failure_; }

 private:
  asio::io_context io_;
  tcp::acceptor acceptor_;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> done_{false};
  std::string failure_;
};

inline std::string read_exactly(tcp::socket& s, std::size_t n) {
  std::string data(n, '\0');
  asio::read(s, asio::buffer(&data[0], n));
  return data;
}

inline std::string read_to_end(tcp::socket& s) {
  std::string all;
  char buf[4096];
  boost::system::error_code ec;
  for (;;) {
    std::size_t n = s.read_some(asio::buffer(buf), ec);
    if (ec) break;
    all.append(buf, n);
  }
  return all;
}

inline void write_all(tcp::socket& s, const std::string& data) { asio::write(s, asio::buffer(data)); }

// Ends run() after a while so that a missing notification fails the test instead of hanging it.
class watchdog {
 public:
  explicit watchdog(unsigned ms) {
    qv::loop::window_spec spec;
    spec.class_name = L"TivorelSocketTestWatchdog";
    window_ = qv::loop::create_window(spec, &watchdog::proc, this);
    qv::loop::set_timer(window_, 1, ms);
  }
  ~watchdog() { qv::loop::destroy_window(window_); }
  bool fired() const { return fired_; }

 private:
  static qv::loop::lresult_t proc(void* user, qv::loop::window_handle w, unsigned msg, qv::loop::wparam_t wp,
                                  qv::loop::lparam_t lp) {
    if (msg == qv::loop::kWmTimer) {
      auto* self = static_cast<watchdog*>(user);
      qv::loop::kill_timer(w, wp);
      self->fired_ = true;
      qv::loop::post_quit(99);
      return 0;
    }
    return qv::loop::default_window_proc(w, msg, wp, lp);
  }
  qv::loop::window_handle window_ = nullptr;
  bool fired_ = false;
};

// Runs the loop until a notification posts the quit message; false when the watchdog ended it.
inline bool run_loop(unsigned safety_ms = 15000) {
  watchdog dog(safety_ms);
  qv::loop::run();
  return !dog.fired();
}

// Ends run() once the messages queued so far, and those that arrive within a short grace period,
// are handled: used to see that nothing more is delivered.
inline void quit_after_grace() {
  struct grace {
    static qv::loop::lresult_t proc(void*, qv::loop::window_handle w, unsigned msg, qv::loop::wparam_t wp,
                                    qv::loop::lparam_t lp) {
      if (msg == qv::loop::kWmTimer) {
        qv::loop::kill_timer(w, wp);
        qv::loop::destroy_window(w);
        qv::loop::post_quit(0);
        return 0;
      }
      return qv::loop::default_window_proc(w, msg, wp, lp);
    }
  };
  qv::loop::window_spec spec;
  spec.class_name = L"TivorelSocketTestGrace";
  qv::loop::window_handle w = qv::loop::create_window(spec, &grace::proc, nullptr);
  qv::loop::set_timer(w, 1, 300);
}

// Records every notification in order and lets a test react to each.
struct recorder : qv::win32::net::asyn_tcp_socket_event {
  std::vector<std::string> events;
  std::string received;  // every byte seen in on_received views, in order, as consumed
  std::uint32_t local_address = 0, peer_address = 0;
  std::uint16_t local_port = 0, peer_port = 0;
  std::uint32_t largest_view = 0;
  std::function<void()> connected_hook, sent_hook, error_hook, closed_hook;
  std::function<void(const std::string& view, std::uint32_t& consumed)> received_hook;

  void on_connected(std::uint32_t la, std::uint16_t lp, std::uint32_t pa, std::uint16_t pp) override {
    events.push_back("connected");
    local_address = la;
    local_port = lp;
    peer_address = pa;
    peer_port = pp;
    if (connected_hook) connected_hook();
  }
  void on_sent(std::uint32_t length) override {
    events.push_back("sent " + std::to_string(length));
    if (sent_hook) sent_hook();
  }
  void on_received(const std::uint8_t* data, std::uint32_t size, std::uint32_t& consumed) override {
    std::string view(reinterpret_cast<const char*>(data), size);
    events.push_back("received " + (size <= 64 ? view : std::to_string(size) + " bytes"));
    if (size > largest_view) largest_view = size;
    if (received_hook) {
      received_hook(view, consumed);
    } else {
      received += view;
    }
  }
  void on_error(std::int32_t code) override {
    events.push_back("error " + std::to_string(code));
    if (error_hook) error_hook();
  }
  void on_closed() override {
    events.push_back("closed");
    if (closed_hook) closed_hook();
  }
};

inline bool send_text(qv::win32::net::asyn_tcp_socket& s, const std::string& text) { return s.send(text.data(), static_cast<std::uint32_t>(text.size())); }

using strings = std::vector<std::string>;

}  // namespace
