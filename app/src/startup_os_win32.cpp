#include "startup_os.h"

#include <winsock2.h>
#include <windows.h>

namespace app::os {

bool start_network() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void stop_network() { WSACleanup(); }

void install_quit_signals() {}
void remove_quit_signals() {}

}  // namespace app::os
