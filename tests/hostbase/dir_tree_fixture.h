// A scratch folder for the folder-deletion and work-item tests, with the few things that differ
// by system (read-only entries, links, the thread's last error).
#pragma once

#include "temp_dir.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace hostbase::test {

namespace fs = std::filesystem;

// Folder links are only made where the system lets this process make them.
bool make_dir_link(const fs::path& target, const fs::path& link);
void make_read_only(const fs::path& p);
std::uint32_t thread_error();
void clear_thread_error();

class scratch : public tiv_test::TempDir {
 public:
  const fs::path& root() const { return path(); }
  // Creates a file with text, and its folders.
  fs::path file(const std::string& relative, const std::string& text = "x") const;
  fs::path dir(const std::string& relative) const;
  // The path as the program's path text: "\" separators.
  static std::wstring text(const fs::path& p);
};

}  // namespace hostbase::test
