// Where the desktop services report what they refused to do. One function, so that it can be
// pointed at the program's log later without touching its callers.
#pragma once

#include <string>

namespace desktop {

// Writes one line (UTF-8, no trailing newline needed). Thread-safe.
void LogLine(const std::string& line);

}  // namespace desktop
