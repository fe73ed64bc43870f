#include "desktop/log.h"

#include <cstdio>
#include <mutex>

namespace desktop {

void LogLine(const std::string& line) {
  // Names from archives may hold control characters; one line stays one line.
  std::string clean = line;
  for (char& c : clean)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  static std::mutex m;
  std::lock_guard<std::mutex> lock(m);
  std::fprintf(stderr, "[desktop] %s\n", clean.c_str());
  std::fflush(stderr);
}

}  // namespace desktop
