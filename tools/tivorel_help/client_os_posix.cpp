#include "client_os.h"

#include "android/command_line.h"
#include "android/utf8.h"

#include <csignal>
#include <cstdlib>

namespace tivorel_help::os {

std::wstring own_arguments(int argc, char** argv) {
  std::wstring line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += L' ';
    line += tiv::android::quote_argument(tiv::android::from_utf8(argv[i]));
  }
  return line;
}

std::wstring environment_variable(const wchar_t* name) {
  const char* v = std::getenv(tiv::android::to_utf8(name).c_str());
  return v ? tiv::android::from_utf8(v) : std::wstring();
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
