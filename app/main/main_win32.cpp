// The host's entry point on Windows: COM and OLE for the thread, the debug privilege (if the
// account has it), then the host itself.
#include "app/startup.h"

#include <ole2.h>
#include <windows.h>

namespace {

void enable_debug_privilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return;
  TOKEN_PRIVILEGES tp{};
  if (LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &tp.Privileges[0].Luid)) {
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &tp, sizeof tp, nullptr, nullptr);
  }
  CloseHandle(token);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  CoInitialize(nullptr);
  OleInitialize(nullptr);
  enable_debug_privilege();
  app::HostMain();
  OleUninitialize();
  CoUninitialize();
  return 0;
}
