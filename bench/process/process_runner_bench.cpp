// 200 short commands through the process runner (queue, worker, capture, delivery on the UI
// thread) against a plain loop that starts each with posix_spawn and waits; then capturing
// 100 MiB of child output against 10 MiB. Prints the two ratios.
#include "android/async_process.h"
#include "hostbase/message_window.h"
#include "qv/message_loop.h"
#include "qv/singleton_ex.h"

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

using namespace tiv::android;
using clock_type = std::chrono::steady_clock;

namespace {

constexpr int kCommands = 200;
const char* const kProgram = "/bin/true";

double seconds_since(clock_type::time_point t0) {
  return std::chrono::duration<double>(clock_type::now() - t0).count();
}

double direct_spawn_loop() {
  const auto t0 = clock_type::now();
  for (int i = 0; i < kCommands; ++i) {
    char* argv[] = {const_cast<char*>(kProgram), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, kProgram, nullptr, nullptr, argv, environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
  }
  return seconds_since(t0);
}

class counter : public ProcessListener {
 public:
  counter(int* done, int target, std::size_t* bytes) : done_(done), target_(target), bytes_(bytes) {}
  void OnProcessOutput(std::int32_t, std::int32_t, const std::string& output) override {
    if (bytes_) *bytes_ += output.size();
    if (++*done_ == target_) qv::loop::post_quit(0);
  }

 private:
  int* done_;
  int target_;
  std::size_t* bytes_;
};

// Runs the command lines through a fresh runner; seconds until the last result arrived.
double through_runner(const std::vector<std::wstring>& lines, std::size_t* bytes = nullptr) {
  CAsyncProcessRunner runner;
  runner.Init();
  int done = 0;
  const auto t0 = clock_type::now();
  for (const auto& line : lines)
    runner.AddCommand(line, kParseRaw, -1,
                      std::make_unique<counter>(&done, static_cast<int>(lines.size()), bytes));
  qv::loop::run();
  return seconds_since(t0);
}

double capture(std::size_t mib, std::size_t* bytes) {
  const std::wstring line = L"head -c " + std::to_wstring(mib << 20) + L" /dev/zero";
  return through_runner({line}, bytes);
}

}  // namespace

int main() {
  auto* window = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::acquire();
  if (!window || !window->Create(L"TivorelProcessBenchWnd")) {
    std::fprintf(stderr, "no message window\n");
    return 1;
  }
  const std::vector<std::wstring> lines(kCommands, std::wstring(L"/bin/true"));
  // Warm-up, then the best of three of each, so that a busy moment of the machine counts less.
  direct_spawn_loop();
  through_runner(lines);
  double direct = 1e9, runner = 1e9;
  for (int i = 0; i < 3; ++i) {
    const double d = direct_spawn_loop();
    const double r = through_runner(lines);
    if (d < 0) {
      std::fprintf(stderr, "posix_spawn failed\n");
      return 1;
    }
    direct = std::min(direct, d);
    runner = std::min(runner, r);
  }
  std::printf("%d commands: direct posix_spawn %.3f s, AsyncProcess runner %.3f s, ratio %.2f\n",
              kCommands, direct, runner, runner / direct);

  std::size_t small_bytes = 0, large_bytes = 0;
  double small = 1e9, large = 1e9;
  for (int i = 0; i < 2; ++i) {
    small_bytes = large_bytes = 0;
    small = std::min(small, capture(10, &small_bytes));
    large = std::min(large, capture(100, &large_bytes));
  }
  std::printf("capture: 10 MiB %.3f s (%zu chars), 100 MiB %.3f s (%zu chars), ratio %.2f\n",
              small, small_bytes, large, large_bytes, large / small);
  window->Destroy();
  qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::release();
  const bool ok = small_bytes == (10u << 20) && large_bytes == (100u << 20);
  if (!ok) std::fprintf(stderr, "captured output has the wrong size\n");
  return ok ? 0 : 1;
}
