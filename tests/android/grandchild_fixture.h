// A process that a test's child starts in the background (the fake client's "spawn" step): it
// writes its id to a file of the test's, so that the test can see it run and end. Whatever
// happens, it is ended when the fixture goes.
#pragma once

#include "qv/text.h"
#include "test_env.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace tiv::android::test {

class grandchild {
 public:
  explicit grandchild(const std::string& name) {
    static int counter = 0;
    path_ = (std::filesystem::temp_directory_path() /
             (name + "_" + std::to_string(process_number()) + "_" + std::to_string(++counter)))
                .u8string();
    std::remove(path_.c_str());
  }
  ~grandchild() {
    if (pid_) end_process(pid_);
    std::remove(path_.c_str());
  }
  grandchild(const grandchild&) = delete;
  grandchild& operator=(const grandchild&) = delete;

  // The file, quoted for a command line.
  std::wstring pid_file() const { return L"\"" + qv::text::utf8_to_wide(path_) + L"\""; }

  // Waits until the process has written its id; false at the test's hang guard.
  bool wait_started() {
    for (int i = 0; i < 6000 && !pid_; ++i) {
      std::ifstream in(path_);
      if (!(in >> pid_)) pid_ = 0;
      if (!pid_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pid_ != 0;
  }
  unsigned long pid() const { return pid_; }

  // Waits until the process has ended; false at the test's hang guard.
  bool wait_ended() const {
    for (int i = 0; i < 6000; ++i) {
      if (process_ended(pid_)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  std::string path_;
  unsigned long pid_ = 0;
};

}  // namespace tiv::android::test
