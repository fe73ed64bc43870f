#include "client_os.h"

#include "qv/command_line.h"
#include "qv/text.h"

#include <windows.h>

namespace tivorel_help::os {

std::wstring own_arguments(int, char**) {
  // The arguments are passed on as written: no round trip through argv can change them.
  return qv::cmdline::command_line_tail(::GetCommandLineW());
}

std::vector<std::string> arguments(int, char**) {
  // Split by the same rules as the stock client's C runtime, from the wide command line.
  std::vector<std::wstring> wide = qv::cmdline::split_command_line(::GetCommandLineW());
  std::vector<std::string> args;
  for (std::size_t i = 1; i < wide.size(); ++i) args.push_back(qv::text::wide_to_utf8(wide[i]));
  return args;
}

std::wstring environment_variable(const wchar_t* name) {
  const DWORD n = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  const DWORD got = ::GetEnvironmentVariableW(name, value.data(), n);
  value.resize(got < n ? got : 0);
  return value;
}

void hold_termination(bool) {}

const wchar_t* const* stock_client_names() {
  static const wchar_t* const names[] = {L"adb.exe", nullptr};
  return names;
}

}  // namespace tivorel_help::os
