#include "agentsim_harness_posix.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace device_test {
namespace {

// Reads one line from fd, waiting at most timeout_ms for each piece.
std::string read_line(int fd, int timeout_ms) {
  std::string line;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return std::string();
    char c;
    if (::read(fd, &c, 1) != 1) return std::string();
    if (c == '\n') return line;
    line += c;
  }
}

std::uint16_t port_of(const std::string& json, const std::string& key) {
  auto pos = json.find("\"" + key + "\": ");
  if (pos == std::string::npos) return 0;
  return static_cast<std::uint16_t>(std::atoi(json.c_str() + pos + key.size() + 4));
}

}  // namespace

agent_simulator::agent_simulator(const std::vector<std::string>& extra_args) {
  ::signal(SIGPIPE, SIG_IGN);
  const char* root = std::getenv("TIVOREL_SOURCE_DIR");
  if (!root) return;
  const std::string script = std::string(root) + "/tools/agentsim/agentsim.py";
  std::vector<std::string> args{"python3", "-B", script, "--event-port", "0", "--command-port", "0",
                                "--exit-on-stdin-eof"};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  int in[2], out[2];
  if (::pipe(in) != 0) return;
  if (::pipe(out) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, "python3", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  stdin_fd_ = in[1];
  stdout_fd_ = out[0];
  if (rc != 0) return;
  pid_ = pid;

  const std::string ready = read_line(stdout_fd_, 20000);
  event_port_ = port_of(ready, "event_port");
  command_port_ = port_of(ready, "command_port");
  control_port_ = port_of(ready, "control_port");
  if (!control_port_) return;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(control_port_);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(fd);
    return;
  }
  control_fd_ = fd;
}

agent_simulator::~agent_simulator() {
  if (control_fd_ >= 0) ::close(control_fd_);
  if (stdin_fd_ >= 0) ::close(stdin_fd_);  // the simulator stops when its input ends
  if (pid_ > 0) {
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      ::usleep(50000);
    }
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
  }
  if (stdout_fd_ >= 0) ::close(stdout_fd_);
}

std::string agent_simulator::control(const std::string& json) {
  if (control_fd_ < 0) return std::string();
  const std::string line = json + "\n";
  if (::send(control_fd_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    return std::string();
  }
  return read_line(control_fd_, 30000);
}

}  // namespace device_test
