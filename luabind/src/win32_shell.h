// The system services of "Win32Shell.Object" that need the operating system.
#pragma once

#include <cstdint>

namespace luabind::shell_os {

// Milliseconds since the system started, wrapping at 2^32.
std::uint32_t tick_count();

}  // namespace luabind::shell_os
