#include "fake_adb_io.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

void binary_standard_streams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool start_copy(const std::vector<std::string>& args) {
  char self[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  // The tests' arguments hold no quotes of their own.
  std::string line = "\"" + std::string(self) + "\"";
  for (const auto& a : args) line += " \"" + a + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi))
    return false;
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return true;
}

unsigned long own_process_id() { return ::GetCurrentProcessId(); }
