#include "client_os.h"

#include "qv/command_line.h"
#include "qv/text.h"

#include <csignal>
#include <cstdlib>

namespace tivorel_help::os {

std::wstring own_arguments(int argc, char** argv) {
  std::wstring line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += L' ';
    line += qv::cmdline::quote_argument(qv::text::utf8_to_wide(argv[i]));
  }
  return line;
}

std::vector<std::string> arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
}

std::wstring environment_variable(const wchar_t* name) {
  const char* v = std::getenv(qv::text::wide_to_utf8(name).c_str());
  return v ? qv::text::utf8_to_wide(v) : std::wstring();
}

void hold_termination(bool hold) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

const wchar_t* const* stock_client_names() {
  static const wchar_t* const names[] = {L"adb", L"adb.exe", nullptr};
  return names;
}

}  // namespace tivorel_help::os
