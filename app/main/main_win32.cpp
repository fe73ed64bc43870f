// The host's entry point on Windows: COM and OLE for the thread, the debug privilege (if the
// account has it), then the host itself.
#include "app/startup.h"
#include "app/version.h"

#include "qv/command_line.h"

#include <ole2.h>
#include <windows.h>

#include <string>
#include <vector>

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

// A file handle from CreateFileW, closed with its owner.
class file_handle {
 public:
  explicit file_handle(HANDLE h) : h_(h) {}
  ~file_handle() {
    if (valid()) CloseHandle(h_);
  }
  file_handle(const file_handle&) = delete;
  file_handle& operator=(const file_handle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

bool write_all(HANDLE h, const std::string& text) {
  DWORD written = 0;
  return WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

// A GUI program has no console of its own. Its text goes to a redirected standard output (a
// file or a pipe) when it has one, else to the console of the process that started it.
bool write_out(const std::string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out && out != INVALID_HANDLE_VALUE && write_all(out, text)) return true;
  // "Access denied" means a console is attached already (Wine attaches a GUI program to its
  // parent's console).
  const bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != 0;
  if (!attached && GetLastError() != ERROR_ACCESS_DENIED) return false;
  bool ok = false;
  {
    file_handle console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    0, nullptr));
    ok = console.valid() && write_all(console.get(), text);
  }
  if (attached) FreeConsole();
  return ok;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  std::vector<std::wstring> args = qv::cmdline::split_command_line(GetCommandLineW());
  if (!args.empty()) args.erase(args.begin());
  if (app::IsVersionRequest(args)) return write_out(app::VersionLine()) ? 0 : 1;
  CoInitialize(nullptr);
  OleInitialize(nullptr);
  enable_debug_privilege();
  app::HostMain();
  OleUninitialize();
  CoUninitialize();
  return 0;
}
