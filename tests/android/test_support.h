// Paths of the helper programs that the android tests start.
#pragma once

#include "android/child_process.h"
#include "qv/command_line.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

namespace tiv::android::test {

// The fake stock client, built beside the test binary, named as a Windows command line does.
inline std::wstring fake_adb() { return executable_directory() + L"fake_adb.exe"; }

// Start of a command line running the fake client by its full path.
inline std::wstring fake_adb_line() { return L"\"" + fake_adb() + L"\""; }

// A command line of the fake client with its script steps.
inline std::wstring fake(const std::wstring& steps) { return fake_adb_line() + L" " + steps; }

// Removes the file that a fake program's "hold" step waits on; true once it is gone. Windows
// removes no file that another program has open, and the waiting programs open it every few
// milliseconds to see whether it is still there: try until it is gone.
inline bool release_hold(const std::filesystem::path& hold) {
  std::error_code ec;
  for (int i = 0; i < 5000 && std::filesystem::exists(hold, ec); ++i) {
    if (!std::filesystem::remove(hold, ec))
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return !std::filesystem::exists(hold, ec) && !ec;
}

}  // namespace tiv::android::test
