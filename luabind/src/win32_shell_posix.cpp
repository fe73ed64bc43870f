#include "win32_shell.h"

#include <ctime>

namespace luabind::shell_os {

std::uint32_t tick_count() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
}

}  // namespace luabind::shell_os
