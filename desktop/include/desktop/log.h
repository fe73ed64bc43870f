// Where the desktop services report what they refused or could not do: standard error and the
// program's log ("engine.log" in the temporary folder).
#pragma once

#include <string>

namespace desktop {

// Writes one line (UTF-8, no trailing newline needed). Thread-safe.
void LogLine(const std::string& line);

}  // namespace desktop
