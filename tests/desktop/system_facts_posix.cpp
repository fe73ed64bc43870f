#include "system_facts.h"

#include <cstdio>

namespace shell_test {

// /proc/uptime: seconds since boot (suspended time included) with two decimals.
uptime_ms system_uptime() {
  unsigned long long seconds = 0, hundredths = 0;
  if (std::FILE* f = std::fopen("/proc/uptime", "r")) {
    if (std::fscanf(f, "%llu.%2llu", &seconds, &hundredths) != 2) seconds = hundredths = 0;
    std::fclose(f);
  }
  const std::uint64_t low = seconds * 1000 + hundredths * 10;
  return {low, low + 10};
}

bool runs_under_wow64() { return false; }

}  // namespace shell_test
