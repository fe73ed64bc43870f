// Paths of the helper programs that the android tests start.
#pragma once

#include "android/child_process.h"
#include "qv/command_line.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
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
  for (int i = 0; i < 5000 && std::filesystem::exists(hold); ++i) {
    if (std::remove(hold.u8string().c_str()) != 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return !std::filesystem::exists(hold);
}

}  // namespace tiv::android::test
