// Shared helpers of the store tests: a scratch folder per test and a raw look into a database.
#pragma once

#include "temp_dir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

namespace store_test {

// A fresh folder per test, removed with its content afterwards.
using scratch_dir = tiv_test::TempDir;

// The schema as the sqlite3 command-line client's ".schema" prints it.
std::string schema_of(const std::filesystem::path& db);

// Every row of every table, as text, in a stable order: what "nothing else changed" compares.
std::string dump_of(const std::filesystem::path& db);

// Runs one statement on its own connection; false on any error.
bool exec_raw(const std::filesystem::path& db, const std::string& sql);

}  // namespace store_test
