// Environment of the test process, which the processes it starts inherit.
#pragma once

#include <optional>
#include <string>

namespace tiv::android::test {

void set_env(const std::string& name, const std::string& value);
void unset_env(const std::string& name);
// Puts a folder in front of PATH.
void prepend_path(const std::wstring& dir);
// A number that differs between test processes running at the same time.
unsigned long process_number();
// Whether the process with this id has ended (a process that ended but was not yet reaped
// counts as ended).
bool process_ended(unsigned long pid);
// Ends the process with this id at once (cleaning up after a test).
void end_process(unsigned long pid);

}  // namespace tiv::android::test

namespace tiv::android::test {

// Whether this system has the Windows driver installers (types 2 and 3 can start), and the
// installer platform a driver manager should pick here (1: 32-bit, 2: 64-bit Windows).
bool has_windows_installers();
int expected_driver_platform();

// Whether an unpacked target shows that it was started as an installer, where a start leaves a
// mark on the file itself (POSIX: the start gives it the execute permission that archives do not
// carry); nothing where it leaves none.
std::optional<bool> started_mark(const std::wstring& target);

}  // namespace tiv::android::test
