// Shared helpers of the store tests: a scratch folder per test and a raw look into a database.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

namespace store_test {

// A fresh folder under the system temporary folder, removed with its content afterwards.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// The schema as the sqlite3 command-line client's ".schema" prints it.
std::string schema_of(const std::filesystem::path& db);

// Every row of every table, as text, in a stable order: what "nothing else changed" compares.
std::string dump_of(const std::filesystem::path& db);

// Runs one statement on its own connection; false on any error.
bool exec_raw(const std::filesystem::path& db, const std::string& sql);

}  // namespace store_test
