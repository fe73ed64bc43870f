// The system services start-up and shutdown need.
#pragma once

#include <string>

namespace app::os {

bool start_network();  // Winsock 2.2 on Windows
void stop_network();
// The process's whole command line as the system reports it, program path included.
// Ctrl-C and termination requests post the quit message (POSIX); nothing on Windows.
void install_quit_signals();
void remove_quit_signals();

}  // namespace app::os
