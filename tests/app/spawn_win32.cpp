#include "spawn.h"

#include "qv/text.h"

#include <windows.h>

int run_program(const std::string& path, const std::vector<std::string>& args) {
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
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return -1;
  CloseHandle(pi.hThread);
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(pi.hProcess, &code);
  } else {
    TerminateProcess(pi.hProcess, 1);
  }
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}
