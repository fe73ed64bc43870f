#include "test_env.h"

#include "qv/text.h"

#include <windows.h>

namespace tiv::android::test {

// Both the system's copy (read by CreateProcessW) and the C runtime's (read by getenv).
void set_env(const std::string& name, const std::string& value) {
  ::SetEnvironmentVariableW(qv::text::utf8_to_wide(name).c_str(), qv::text::utf8_to_wide(value).c_str());
  ::_putenv_s(name.c_str(), value.c_str());
}

void unset_env(const std::string& name) {
  ::SetEnvironmentVariableW(qv::text::utf8_to_wide(name).c_str(), nullptr);
  ::_putenv_s(name.c_str(), "");
}

void prepend_path(const std::wstring& dir) {
  wchar_t buf[32767];
  const DWORD n = ::GetEnvironmentVariableW(L"PATH", buf, 32767);
  std::wstring path = dir;
  if (n > 0 && n < 32767) path += L";" + std::wstring(buf, n);
  ::SetEnvironmentVariableW(L"PATH", path.c_str());
}

unsigned long process_number() { return ::GetCurrentProcessId(); }

bool process_ended(unsigned long pid) {
  HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (!h) return true;
  const bool ended = ::WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
  ::CloseHandle(h);
  return ended;
}

void end_process(unsigned long pid) {
  if (HANDLE h = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid))) {
    ::TerminateProcess(h, 1);
    ::CloseHandle(h);
  }
}

}  // namespace tiv::android::test

namespace tiv::android::test {

bool has_windows_installers() { return true; }

int expected_driver_platform() {
  // A 64-bit test binary runs only on 64-bit Windows; a 32-bit one there runs under WOW64.
  if (sizeof(void*) == 8) return 2;
  BOOL wow = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow) && wow ? 2 : 1;
}

std::optional<bool> started_mark(const std::wstring&) { return std::nullopt; }

}  // namespace tiv::android::test
