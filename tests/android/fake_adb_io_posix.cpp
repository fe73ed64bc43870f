#include "fake_adb_io.h"

#include <spawn.h>
#include <unistd.h>

extern char** environ;

void binary_standard_streams() {}

bool start_copy(const std::vector<std::string>& args) {
  std::vector<std::string> all{"/proc/self/exe"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  return ::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) == 0;
}

unsigned long own_process_id() { return static_cast<unsigned long>(::getpid()); }
