// Where the desktop services report what they refused or could not do: standard error and the
// program's log ("engine.log" in the temporary folder), and for what the user must learn of, the
// user interface's log too.
#pragma once

#include <string>

namespace desktop {

// Writes one line (UTF-8, no trailing newline needed). Thread-safe.
void LogLine(const std::string& line);

// The user interface's own log ("Device.Manager:WriteLuaLog"'s file), handed in once by start-up.
using UiLogWriter = bool (*)(const std::string& line);
void SetUiLogWriter(UiLogWriter writer);

// What the person using the program should be able to read: LogLine, and the same line in the
// user interface's log when start-up has handed one in.
void LogLineForUi(const std::string& line);

}  // namespace desktop
