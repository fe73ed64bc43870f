// Sends, fetches and copies with the transfer classes and with plain references on the same
// data in the same run, and prints each ratio (reference time / our time; 1.0 means as fast).
//   file_transfer_bench [MiB (1024)] [small files (10000)] [rows (send,get,copy,small)]
// A list of rows runs only those, e.g. to profile one of them.
#include "device/file_transfer.h"
#include "hostbase/message_window.h"
#include "qv/message_loop.h"
#include "qv/singleton_ex.h"
#include "qv/text.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
namespace asio = boost::asio;
using asio::ip::tcp;
using clock_type = std::chrono::steady_clock;

namespace {

double seconds_since(clock_type::time_point t) {
  return std::chrono::duration<double>(clock_type::now() - t).count();
}

long peak_kib() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

void make_file(const fs::path& p, std::uint64_t size) {
  std::ofstream out(p, std::ios::binary);
  std::vector<char> block(1 << 20);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
  for (std::uint64_t left = size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
    out.write(block.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
}

// Runs the loop until done() holds.
void pump(const std::function<bool()>& done) {
  struct state {
    const std::function<bool()>* done;
  } s{&done};
  auto proc = [](void* user, qv::loop::window_handle w, unsigned msg, qv::loop::wparam_t wp,
                 qv::loop::lparam_t lp) -> qv::loop::lresult_t {
    if (msg != qv::loop::kWmTimer) return qv::loop::default_window_proc(w, msg, wp, lp);
    if ((*static_cast<state*>(user)->done)()) {
      qv::loop::kill_timer(w, wp);
      qv::loop::post_quit(0);
    }
    return 0;
  };
  qv::loop::window_spec spec;
  spec.class_name = L"TivorelTransferBench";
  auto w = qv::loop::create_window(spec, proc, &s);
  qv::loop::set_timer(w, 1, 2);
  qv::loop::run();
  qv::loop::destroy_window(w);
}

// A listener on a free loopback port whose thread serves one connection at a time with its own
// 1 MiB buffer, until the object goes.
class loopback_service {
 public:
  using serve_fn = std::function<void(tcp::socket&, std::vector<char>&, boost::system::error_code&)>;
  explicit loopback_service(serve_fn serve) : acceptor_(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
    port_ = acceptor_.local_endpoint().port();
    thread_ = std::thread([this, serve = std::move(serve)] {
      std::vector<char> buf(1 << 20);
      for (;;) {
        boost::system::error_code ec;
        tcp::socket c = acceptor_.accept(ec);
        if (ec || stop_) return;
        serve(c, buf, ec);
      }
    });
  }
  ~loopback_service() {
    stop_ = true;
    boost::system::error_code ec;
    tcp::socket s(io_);
    s.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port_), ec);
    thread_.join();
  }
  std::uint16_t port() const { return port_; }

 private:
  asio::io_context io_;
  tcp::acceptor acceptor_;
  std::uint16_t port_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

// The agent's receiving side: reads each file and answers one byte.
class sink : public loopback_service {
 public:
  sink() : loopback_service([](tcp::socket& c, std::vector<char>& buf, boost::system::error_code& ec) {
        std::uint8_t h[10];
        asio::read(c, asio::buffer(h), ec);
        if (ec) return;
        const std::uint32_t length = h[2] | (h[3] << 8) | (h[4] << 16) | (std::uint32_t(h[5]) << 24);
        std::uint64_t left = length - 4;
        while (left > 0 && !ec) left -= c.read_some(asio::buffer(buf.data(), std::min<std::uint64_t>(left, buf.size())), ec);
        const char one = 1;
        asio::write(c, asio::buffer(&one, 1), ec);
        c.read_some(asio::buffer(buf.data(), 1), ec);
        }) {}
};

// The agent's serving side: answers each get request with the file.
class server : public loopback_service {
 public:
  explicit server(fs::path file)
      : loopback_service([file = std::move(file)](tcp::socket& c, std::vector<char>& buf,
                                                  boost::system::error_code& ec) {
        std::uint8_t h[6];
        asio::read(c, asio::buffer(h), ec);
        const std::uint32_t len = h[2] | (h[3] << 8) | (h[4] << 16) | (std::uint32_t(h[5]) << 24);
        std::vector<char> body(len);
        if (len) asio::read(c, asio::buffer(body), ec);
        const std::uint64_t size = fs::file_size(file);
        const std::uint8_t reply[6] = {0, 1, std::uint8_t(size >> 24), std::uint8_t(size >> 16), std::uint8_t(size >> 8),
                                       std::uint8_t(size)};
        asio::write(c, asio::buffer(reply), ec);
        std::ifstream in(file, std::ios::binary);
        while (!ec && in) {
          in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
          if (in.gcount() > 0) asio::write(c, asio::buffer(buf.data(), static_cast<std::size_t>(in.gcount())), ec);
        }
        c.read_some(asio::buffer(buf.data(), 1), ec);  // until the client closes
        }) {}
};

double plain_send(const fs::path& file, std::uint16_t port) {
  const auto t = clock_type::now();
  asio::io_context io;
  tcp::socket s(io);
  s.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port));
  const std::string path = "/sdcard/x";
  const std::uint64_t size = fs::file_size(file);
  std::vector<std::uint8_t> h = {3, 0};
  const std::uint32_t length = static_cast<std::uint32_t>(4 + path.size() + size);
  for (int i = 0; i < 4; ++i) h.push_back(std::uint8_t(length >> (8 * i)));
  for (int i = 0; i < 4; ++i) h.push_back(std::uint8_t(path.size() >> (8 * i)));
  h.insert(h.end(), path.begin(), path.end());
  asio::write(s, asio::buffer(h));
  std::ifstream in(file, std::ios::binary);
  std::vector<char> buf(512000);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    if (in.gcount() > 0) asio::write(s, asio::buffer(buf.data(), static_cast<std::size_t>(in.gcount())));
  }
  char one;
  asio::read(s, asio::buffer(&one, 1));
  return seconds_since(t);
}

double our_send(const fs::path& file, std::uint16_t port) {
  device::file_sender sender(port);
  sender.init();
  bool done = false;
  int status = 0;
  const auto t = clock_type::now();
  sender.send(3, "/sdcard/", file.string(), [&](const device::transfer_report& r) {
    if (r.status != 1) {
      done = true;
      status = r.status;
    }
  });
  pump([&] { return done; });
  const double s = seconds_since(t);
  if (status != 5) std::printf("  send ended with %d\n", status);
  return s;
}

double plain_get(std::uint16_t port, const fs::path& target) {
  const auto t = clock_type::now();
  asio::io_context io;
  tcp::socket s(io);
  s.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port));
  const std::string path = "/sdcard/x";
  std::vector<std::uint8_t> req = {1, 0, std::uint8_t(4 + path.size()), 0, 0, 0, std::uint8_t(path.size()), 0, 0, 0};
  req.insert(req.end(), path.begin(), path.end());
  asio::write(s, asio::buffer(req));
  std::uint8_t h[6];
  asio::read(s, asio::buffer(h));
  std::uint64_t left = (std::uint32_t(h[2]) << 24) | (h[3] << 16) | (h[4] << 8) | h[5];
  std::ofstream out(target, std::ios::binary);
  std::vector<char> buf(40960);
  boost::system::error_code ec;
  while (left > 0 && !ec) {
    const std::size_t n = s.read_some(asio::buffer(buf.data(), std::min<std::uint64_t>(left, buf.size())), ec);
    out.write(buf.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
  out.close();
  return seconds_since(t);
}

double our_get(std::uint16_t port, const fs::path& target) {
  device::file_getter getter(port);
  getter.init();
  bool done = false;
  int status = 0;
  const auto t = clock_type::now();
  getter.get(1, "/sdcard/x", target.string(), [&](std::uint32_t, std::int32_t st, const std::string&, std::uint64_t) {
    if (st != 1) {
      done = true;
      status = st;
    }
  });
  pump([&] { return done; });
  const double s = seconds_since(t);
  if (status != 5) std::printf("  get ended with %d\n", status);
  return s;
}

double cp_r(const fs::path& from, const fs::path& to) {
  fs::remove_all(to);
  ::sync();
  const auto t = clock_type::now();
  const std::string cmd = "cp -r '" + from.string() + "' '" + to.string() + "'";
  if (std::system(cmd.c_str()) != 0) std::printf("  cp failed\n");
  return seconds_since(t);
}

double our_copy(const fs::path& from, const fs::path& to) {
  fs::remove_all(to);
  ::sync();
  device::dir_copier copier;
  copier.init();
  bool done = false;
  int status = 0;
  const auto t = clock_type::now();
  copier.copy(to.string(), from.string(), [&](const device::transfer_report& r) {
    if (r.status != 1) {
      done = true;
      status = r.status;
    }
  });
  pump([&] { return done; });
  const double s = seconds_since(t);
  if (status != 5) std::printf("  copy ended with %d\n", status);
  return s;
}

// Best of two runs each, interleaved, so that neither side gets the warmer cache throughout.
// Each run starts with nothing left to write back: otherwise the second side of a pair pays for
// writing back the first side's gigabyte (and truncating a file under writeback waits for it).
double compare(const char* what, const std::function<double()>& reference, const std::function<double()>& ours) {
  double r = 1e9, o = 1e9;
  for (int i = 0; i < 2; ++i) {
    ::sync();
    r = std::min(r, reference());
    ::sync();
    o = std::min(o, ours());
  }
  std::printf("%-28s reference %.3f s, ours %.3f s, ratio %.2f\n", what, r, o, r / o);
  std::fflush(stdout);
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const int small = argc > 2 ? std::atoi(argv[2]) : 10000;
  const std::string rows = argc > 3 ? std::string(",") + argv[3] + "," : ",send,get,copy,small,";
  auto row = [&](const char* name) { return rows.find(std::string(",") + name + ",") != std::string::npos; };
  auto* mw = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::acquire();
  if (!mw || !mw->Create(L"TivorelMessageWnd")) return 1;
  const fs::path dir = fs::temp_directory_path() / ("tivorel_transfer_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir / "big");
  const fs::path big = dir / "big" / "file.bin";
  if (row("send") || row("get") || row("copy")) make_file(big, mib << 20);
  const long base = peak_kib();
  std::printf("%llu MiB file, %d small files; peak memory before transfers %ld KiB\n",
              static_cast<unsigned long long>(mib), small, base);
  if (row("send")) {
    sink s;
    compare("send", [&] { return plain_send(big, s.port()); }, [&] { return our_send(big, s.port()); });
  }
  if (row("get")) {
    server srv(big);
    // The previous run's file goes before the clock starts, for both sides.
    compare("get",
            [&] {
              fs::remove(dir / "got_plain.bin");
              ::sync();
              return plain_get(srv.port(), dir / "got_plain.bin");
            },
            [&] {
              fs::remove(dir / "got_ours.bin");
              ::sync();
              return our_get(srv.port(), dir / "got_ours.bin");
            });
    fs::remove(dir / "got_plain.bin");
    fs::remove(dir / "got_ours.bin");
  }
  std::printf("peak memory after send and get: %ld KiB (growth %ld KiB)\n", peak_kib(), peak_kib() - base);
  if (row("copy")) {
    compare("copy of one big file", [&] { return cp_r(dir / "big", dir / "copy_cp"); },
            [&] { return our_copy(dir / "big", dir / "copy_ours"); });
  }
  fs::remove_all(dir / "copy_cp");
  fs::remove_all(dir / "copy_ours");
  fs::remove_all(dir / "big");
  auto tree = [&](int n, const fs::path& root) {
    for (int i = 0; i < n; ++i) {
      const fs::path p = root / ("d" + std::to_string(i / 100)) / ("f" + std::to_string(i) + ".txt");
      fs::create_directories(p.parent_path());
      std::ofstream(p) << "small file " << i << "\n";
    }
  };
  if (row("small")) {
    tree(small / 10, dir / "tree1");
    tree(small, dir / "tree10");
    const double t1 = compare("copy of small files (1/10)", [&] { return cp_r(dir / "tree1", dir / "c1"); },
                              [&] { return our_copy(dir / "tree1", dir / "o1"); });
    const double t10 = compare("copy of small files", [&] { return cp_r(dir / "tree10", dir / "c10"); },
                               [&] { return our_copy(dir / "tree10", dir / "o10"); });
    std::printf("10 times the files took %.1f times as long\n", t10 / t1);
  }
  fs::remove_all(dir);
  mw->Destroy();
  qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::release();
  return 0;
}
