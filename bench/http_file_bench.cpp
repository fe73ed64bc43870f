// Downloads one URL into one file with asyn_http_file and prints the seconds it took.
//   http_file_bench URL TARGET
// Driven by http_file_bench.py, which also runs the reference (curl) and reads peak memory.
#include "qv/asyn_http_file.h"
#include "qv/message_loop.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace {

struct sink : qv::win32::net::asyn_http_file_event {
  int result = -1;
  void on_file_ready(std::int32_t, const std::string&, std::uint64_t size, const std::wstring&,
                     std::int32_t code) override {
    std::printf("ready code=%d size=%llu\n", code, static_cast<unsigned long long>(size));
    result = code == 0 ? 0 : 1;
    qv::loop::post_quit(0);
  }
  void on_file_error(std::int32_t, const std::string&, std::int32_t code) override {
    std::printf("error %d\n", code);
    result = 1;
    qv::loop::post_quit(0);
  }
  void on_file_progress(std::int32_t, std::uint64_t, std::uint64_t, std::uint64_t) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: http_file_bench URL TARGET\n");
    return 2;
  }
  const std::string target = argv[2];
  sink s;
  qv::win32::net::asyn_http_file file(&s);
  const auto start = std::chrono::steady_clock::now();
  if (!file.request_file(1, argv[1], {}, std::wstring(target.begin(), target.end()))) {
    std::fprintf(stderr, "request refused\n");
    return 2;
  }
  qv::loop::run();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("seconds %.3f\n", seconds);
  return s.result;
}
