// One temporary folder for a test: under the system's temporary folder, named after the running
// test with a random part and a counter (parallel runs and several folders of one test never
// meet), created empty, and removed with everything in it when the object goes, read-only
// entries included.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace tiv_test {

class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    static const std::uint64_t run = std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
    for (char& c : name)
      if (c == '/' || c == '\\' || c == ':') c = '_';  // parameterised names hold "/"
    path_ = std::filesystem::temp_directory_path() /
            ("tiv_" + name + "_" + std::to_string(run % 1000000007u) + "_" +
             std::to_string(counter++));
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
      if (!it->is_symlink(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace tiv_test
