// The coreutils md5sum program.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "independent_md5.h"

namespace catalogue_test {

std::string independent_md5_hex(const std::string& bytes) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("tivorel_md5_" + std::to_string(::getpid()) + ".bin");
  std::ofstream(path, std::ios::binary) << bytes;
  std::string out;
  if (FILE* p = ::popen(("md5sum '" + path.string() + "'").c_str(), "r")) {
    char buf[128];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  std::filesystem::remove(path);
  return out.substr(0, out.find(' '));
}

}  // namespace catalogue_test
