#include "spawn.h"

#include <csignal>
#include <ctime>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int run_program(const std::string& path, const std::vector<std::string>& args) {
  std::vector<std::string> all{path};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  for (int i = 0; i < 600; ++i) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usleep(100000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}
