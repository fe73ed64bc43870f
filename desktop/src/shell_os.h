// The operating-system side of "Win32Shell.Object".
#pragma once

#include <cstdint>

namespace desktop::os {

// Milliseconds since the system started, wrapping at 2^32.
std::uint32_t tick_count();

}  // namespace desktop::os
