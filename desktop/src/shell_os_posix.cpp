#include "shell_os.h"

#include <ctime>

namespace desktop::os {

std::uint32_t tick_count() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
}

}  // namespace desktop::os
