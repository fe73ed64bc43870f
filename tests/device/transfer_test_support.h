// Folders and loopback peers for the file transfer tests.
#pragma once

#include <gtest/gtest.h>

#include "temp_dir.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace transfer_test {

namespace fs = std::filesystem;
namespace asio = boost::asio;
using asio::ip::tcp;

// A fresh folder per test, removed afterwards.
class temp_folder : public tiv_test::TempDir {
 public:
  // The path as the Lua code hands it over: UTF-8, Windows separators.
  std::string text(const std::string& rel = "") const {
    std::string s = (rel.empty() ? path() : path() / fs::u8path(rel)).u8string();
    for (auto& c : s) {
      if (c == '/') c = '\\';
    }
    return s;
  }
};

inline void write_file(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "<missing>";
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string pattern(std::size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

// A port on which nothing listens (bound once, then released).
inline std::uint16_t closed_port() {
  asio::io_context io;
  tcp::acceptor a(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
  return a.local_endpoint().port();
}

// The agent's receiving side: accepts one connection per file, reads the header and the
// contents, and answers (or not) as its mode says.
class send_sink {
 public:
  enum class mode {
    answer,         // one byte after the contents
    close_early,    // close after the header and half of the contents
    close_silent,   // read everything, then close without answering
    never_answer,   // read everything, then wait until the host closes
    hold_zero,      // answer at once, except a 0-byte file waits for release()
  };
  struct received {
    std::uint16_t code = 0;
    std::uint32_t length = 0;
    std::string path;
    std::string contents;
  };

  explicit send_sink(mode m = mode::answer) : mode_(m), acceptor_(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
    port_ = acceptor_.local_endpoint().port();
    thread_ = std::thread([this] { serve(); });
  }
  ~send_sink() {
    stopping_ = true;
    release();
    {
      asio::io_context io;
      tcp::socket wake(io);
      boost::system::error_code ec;
      wake.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port_), ec);
      thread_.join();
    }
  }

  std::uint16_t port() const { return port_; }
  std::vector<received> files() const {
    std::lock_guard<std::mutex> g(m_);
    return files_;
  }
  std::size_t connections() const { return connections_; }
  // Files whose contents arrived completely (before any answer).
  std::size_t complete() const { return complete_; }
  // Connections the host has closed while the sink waited.
  std::size_t closed_by_host() const { return closed_by_host_; }
  void release() {
    std::lock_guard<std::mutex> g(m_);
    released_ = true;
    cv_.notify_all();
  }

 private:
  void serve() {
    while (!stopping_) {
      boost::system::error_code ec;
      tcp::socket c = acceptor_.accept(ec);
      if (ec || stopping_) return;
      ++connections_;
      one(c);
    }
  }

  void one(tcp::socket& c) {
    boost::system::error_code ec;
    std::uint8_t h[10];
    asio::read(c, asio::buffer(h), ec);
    if (ec) return;
    received r;
    r.code = static_cast<std::uint16_t>(h[0] | (h[1] << 8));
    r.length = h[2] | (h[3] << 8) | (h[4] << 16) | (static_cast<std::uint32_t>(h[5]) << 24);
    const std::uint32_t path_len = h[6] | (h[7] << 8) | (h[8] << 16) | (static_cast<std::uint32_t>(h[9]) << 24);
    r.path.resize(path_len);
    if (path_len) asio::read(c, asio::buffer(&r.path[0], path_len), ec);
    const std::uint32_t size = r.length - 4 - path_len;
    std::size_t want = size;
    if (mode_ == mode::close_early) want = size / 2;
    r.contents.resize(want);
    if (want) asio::read(c, asio::buffer(&r.contents[0], want), ec);
    {
      std::lock_guard<std::mutex> g(m_);
      files_.push_back(r);
    }
    if (ec) return;
    if (mode_ == mode::close_early || mode_ == mode::close_silent) {
      c.close();
      return;
    }
    ++complete_;
    if (mode_ == mode::never_answer || (mode_ == mode::hold_zero && size == 0)) {
      if (mode_ == mode::hold_zero) {
        std::unique_lock<std::mutex> g(m_);
        cv_.wait(g, [&] { return released_; });
      } else {
        char b;
        c.read_some(asio::buffer(&b, 1), ec);  // returns once the host closes or resets
        ++closed_by_host_;
        return;
      }
    }
    const std::uint8_t answer = 1;
    asio::write(c, asio::buffer(&answer, 1), ec);
    char b;
    c.read_some(asio::buffer(&b, 1), ec);  // wait for the host's close
  }

  mode mode_;
  asio::io_context io_;
  tcp::acceptor acceptor_;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex m_;
  std::condition_variable cv_;
  bool released_ = false;
  std::vector<received> files_;
  std::atomic<std::size_t> connections_{0};
  std::atomic<std::size_t> complete_{0};
  std::atomic<std::size_t> closed_by_host_{0};
};

}  // namespace transfer_test
