#include "win32_shell.h"

#include <windows.h>

namespace luabind::shell_os {

std::uint32_t tick_count() { return ::GetTickCount(); }

}  // namespace luabind::shell_os
