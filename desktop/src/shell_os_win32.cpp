#include "shell_os.h"

#include <windows.h>

namespace desktop::os {

std::uint32_t tick_count() { return ::GetTickCount(); }

}  // namespace desktop::os
