// Running one command line to its end with its standard output and error captured, and the two
// readings of such output that the process runner offers: the packaging tool's badging report
// and the owner of the ADB server's port in a listing of listening sockets.
#pragma once

#include "android/child_process.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tiv::android {

// Output beyond this many bytes is read and dropped, so that a child that writes without end
// cannot exhaust memory.
constexpr std::size_t kMaxCapturedOutput = 128u << 20;

// Runs the command line hidden, with its standard output and error in one pipe that is drained
// while it runs. timeout_ms < 0: no limit; a child still running at its limit is ended and what
// it wrote so far is returned. `started` (when given) is called with the running child before
// the wait, and with null once it has ended, so that another thread can end it meanwhile.
// Returns the bytes written (empty when the command could not start); *started_ok and
// *exit_code (when given) say whether it started and how it ended (-1: ended by a signal or by
// its limit).
std::string RunCaptured(const std::wstring& command_line, int timeout_ms,
                        const std::function<void(std::shared_ptr<child_process>)>& started = {},
                        bool* started_ok = nullptr, int* exit_code = nullptr);

struct BadgingInfo {
  std::wstring package;
  std::wstring label;
  std::wstring icon;
};

// The package name, the application label and the icon path of a badging report ("package:
// name='...'" and, later, "application: label='...' icon='...'"); all three empty when the text
// does not hold them.
BadgingInfo ParseBadging(const std::wstring& output);

// The process id that listens on 127.0.0.1:5037, from the lines of "netstat -ano" (Windows) or
// "ss -Hltnp" (Linux); nothing when no such line is there.
std::optional<int> ParseAdbPortOwner(const std::wstring& output);

}  // namespace tiv::android
