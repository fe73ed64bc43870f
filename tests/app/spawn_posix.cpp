#include "spawn.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Appends what the pipe holds, waiting up to `wait_ms` for the first bytes; false at its end.
bool read_some(int fd, std::string& out, int wait_ms) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, wait_ms) <= 0) return true;
  char buf[4096];
  const ssize_t n = read(fd, buf, sizeof buf);
  if (n <= 0) return false;
  out.append(buf, static_cast<std::size_t>(n));
  return true;
}

}  // namespace

int run_program(const std::string& path, const std::vector<std::string>& args,
                std::string* output) {
  std::vector<std::string> all{path};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  int pipe_fd[2] = {-1, -1};
  if (output && pipe2(pipe_fd, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output) posix_spawn_file_actions_adddup2(&actions, pipe_fd[1], STDOUT_FILENO);
  pid_t pid = 0;
  const int started = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (output) close(pipe_fd[1]);
  int reading = output ? pipe_fd[0] : -1;
  if (started != 0) {
    if (reading >= 0) close(reading);
    return -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  int status = 0;
  bool ended = false;
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    if (reading >= 0) {
      if (!read_some(reading, *output, 100)) {
        close(reading);
        reading = -1;
      }
    } else {
      usleep(100000);
    }
    ended = waitpid(pid, &status, WNOHANG) == pid;
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  // What is left in the pipe; a descendant that keeps it open is not waited for.
  while (reading >= 0) {
    pollfd p{reading, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0 || !read_some(reading, *output, 0)) {
      close(reading);
      reading = -1;
    }
  }
  if (!ended) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
