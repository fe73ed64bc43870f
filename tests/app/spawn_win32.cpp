#include "spawn.h"

#include "qv/text.h"

#include <windows.h>

int run_program(const std::string& path, const std::vector<std::string>& args,
                std::string* output) {
  std::string p = path;
  if (!p.empty() && p[0] == '/') {  // a Unix path from the build, seen through Wine's Z: drive
    for (char& c : p)
      if (c == '/') c = '\\';
    p = "Z:" + p;
  }
  std::wstring line = L"\"" + qv::text::utf8_to_wide(p) + L"\"";
  for (const auto& a : args) {
    std::wstring w = qv::text::utf8_to_wide(a);
    line += w.find(L' ') != std::wstring::npos ? L" \"" + w + L"\"" : L" " + w;
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  HANDLE read_end = nullptr, write_end = nullptr;
  if (output) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    if (!CreatePipe(&read_end, &write_end, &sa, 0)) return -1;
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write_end;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, output ? TRUE : FALSE,
                                      0, nullptr, nullptr, &si, &pi);
  if (write_end) CloseHandle(write_end);
  if (!started) {
    if (read_end) CloseHandle(read_end);
    return -1;
  }
  CloseHandle(pi.hThread);
  DWORD code = static_cast<DWORD>(-1);
  bool ended = false;
  const ULONGLONG deadline = GetTickCount64() + 60000;  // a minute
  if (read_end) {
    // The output is read while the program runs: a full pipe would stop it.
    for (;;) {
      DWORD avail = 0;
      if (!PeekNamedPipe(read_end, nullptr, 0, nullptr, &avail, nullptr)) break;  // pipe closed
      if (avail > 0) {
        char buf[4096];
        DWORD n = 0;
        if (!ReadFile(read_end, buf, avail < sizeof buf ? avail : sizeof buf, &n, nullptr)) break;
        output->append(buf, n);
        continue;
      }
      if (ended || GetTickCount64() > deadline) break;
      // One more look at the pipe after the end: the last bytes may still be in it.
      ended = WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0;
    }
    CloseHandle(read_end);
  }
  const ULONGLONG now = GetTickCount64();
  if (!ended)
    ended = WaitForSingleObject(pi.hProcess, now < deadline ? static_cast<DWORD>(deadline - now)
                                                            : 0) == WAIT_OBJECT_0;
  if (ended) {
    GetExitCodeProcess(pi.hProcess, &code);
  } else {
    TerminateProcess(pi.hProcess, 1);
  }
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}
