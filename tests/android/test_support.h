// Paths of the helper programs that the android tests start.
#pragma once

#include "android/child_process.h"
#include "qv/command_line.h"

#include <string>

namespace tiv::android::test {

// The fake stock client, built beside the test binary, named as a Windows command line does.
inline std::wstring fake_adb() { return executable_directory() + L"fake_adb.exe"; }

// Start of a command line running the fake client by its full path.
inline std::wstring fake_adb_line() { return L"\"" + fake_adb() + L"\""; }

// A command line of the fake client with its script steps.
inline std::wstring fake(const std::wstring& steps) { return fake_adb_line() + L" " + steps; }

}  // namespace tiv::android::test
