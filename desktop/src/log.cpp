#include "desktop/log.h"

#include <cstdio>
#include <mutex>

namespace desktop {

void LogLine(const std::string& line) {
  static std::mutex m;
  std::lock_guard<std::mutex> lock(m);
  std::fprintf(stderr, "[desktop] %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace desktop
