// What the HTTP client tests share: the servers of the fixture, a loop runner with a safety
// time-out, and small file helpers.
#pragma once

#include "qv/message_loop.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>

namespace http_test {

namespace fs = std::filesystem;

// The servers started by the CTest fixture (tests/support/http_fixture.py). Their description
// is in the folder TIVOREL_HTTP_FIXTURE names, else in "http_fixture" of the working folder.
struct servers {
  int nginx_port = 0;    // keep-alive on
  int nginx_port2 = 0;   // keep-alive off
  int fault_port = 0;
  fs::path www;
  fs::path access_log;

  static const servers& get() {
    static servers s = load();
    return s;
  }
  std::string nginx(const std::string& path, int port = 0) const {
    return "http://127.0.0.1:" + std::to_string(port ? port : nginx_port) + path;
  }
  std::string fault(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(fault_port) + path;
  }

 private:
  static servers load() {
    servers s;
    const char* dir = std::getenv("TIVOREL_HTTP_FIXTURE");
    std::ifstream in(fs::path(dir && *dir ? dir : "http_fixture") / "fixture.env");
    std::map<std::string, std::string> kv;
    std::string line;
    while (std::getline(in, line)) {
      const auto eq = line.find('=');
      if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (kv.size() < 5) {
      ADD_FAILURE() << "no http_fixture/fixture.env: run these tests through ctest, which starts "
                       "the servers (fixture http_servers)";
      return s;
    }
    s.nginx_port = std::stoi(kv["nginx_port"]);
    s.nginx_port2 = std::stoi(kv["nginx_port2"]);
    s.fault_port = std::stoi(kv["fault_port"]);
    s.www = kv["www"];
    s.access_log = kv["access_log"];
    return s;
  }
};

// Runs the loop until someone calls finish() (or post_quit), with a safety net: a stuck test
// fails instead of hanging.
class loop_runner {
 public:
  // True when the loop ended by itself, false when the safety net fired.
  static bool run(unsigned safety_ms = 60000) {
    bool fired = false;
    qv::loop::window_spec spec;
    spec.class_name = L"TivorelHttpTestGuard";
    spec.title = L"guard";
    auto proc = [](void* user, qv::loop::window_handle w, unsigned msg, qv::loop::wparam_t wp,
                   qv::loop::lparam_t lp) -> qv::loop::lresult_t {
      if (msg == qv::loop::kWmTimer) {
        *static_cast<bool*>(user) = true;
        qv::loop::kill_timer(w, wp);
        qv::loop::post_quit(1);
        return 0;
      }
      return qv::loop::default_window_proc(w, msg, wp, lp);
    };
    qv::loop::window_handle guard = qv::loop::create_window(spec, proc, &fired);
    EXPECT_NE(nullptr, guard);
    qv::loop::set_timer(guard, 1, safety_ms);
    qv::loop::run();
    qv::loop::destroy_window(guard);
    EXPECT_FALSE(fired) << "the safety time-out fired";
    return !fired;
  }
  static void finish() { qv::loop::post_quit(0); }
};

inline std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The access log once it holds the needle: nginx logs a request after it has sent the answer, so
// the line of the last answer a client read may come a moment later. Gives up after 10 s (the log
// as it is then).
inline std::string access_log_with(const std::string& needle) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    std::string log = read_file(servers::get().access_log);
    if (log.find(needle) != std::string::npos || std::chrono::steady_clock::now() >= deadline) return log;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

inline void write_file(const fs::path& p, const std::string& data) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << data;
}

// Deterministic bytes of every value, so misplaced ranges show.
inline std::string pattern(std::size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

}  // namespace http_test
