#include "android/child_process.h"

#include "qv/command_line.h"
#include "qv/text.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

extern char** environ;

namespace tiv::android {
namespace {

// Closes a descriptor when it goes out of scope.
struct fd_holder {
  int fd = -1;
  fd_holder() = default;
  explicit fd_holder(int f) : fd(f) {}
  fd_holder(const fd_holder&) = delete;
  fd_holder& operator=(const fd_holder&) = delete;
  ~fd_holder() { reset(); }
  void reset(int f = -1) {
    if (fd >= 0) ::close(fd);
    fd = f;
  }
};

bool is_executable_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool ends_with_exe(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return tail == ".exe";
}

// The name as given, then without a trailing ".exe".
std::vector<std::string> name_forms(const std::string& name) {
  std::vector<std::string> forms{name};
  if (ends_with_exe(name) && name.size() > 4) forms.push_back(name.substr(0, name.size() - 4));
  return forms;
}

std::string find_program(std::string name) {
  if (name.empty()) return {};
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  if (name.find('/') != std::string::npos) {
    for (const auto& form : name_forms(name)) {
      if (is_executable_file(form)) return form;
    }
    return {};
  }
  std::vector<std::string> dirs{qv::text::wide_to_utf8(executable_directory())};
  if (const char* path = std::getenv("PATH")) {
    std::string list(path);
    std::size_t start = 0;
    while (start <= list.size()) {
      std::size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      std::string dir = list.substr(start, end - start);
      if (dir.empty()) dir = ".";
      if (dir.back() != '/') dir.push_back('/');
      dirs.push_back(dir);
      start = end + 1;
    }
  }
  for (const auto& dir : dirs) {
    for (const auto& form : name_forms(name)) {
      if (is_executable_file(dir + form)) return dir + form;
    }
  }
  return {};
}

std::vector<std::string> build_environment(const process_options& options) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
  for (const auto& [wname, wvalue] : options.environment) {
    const std::string name = qv::text::wide_to_utf8(wname);
    const std::string entry = name + "=" + qv::text::wide_to_utf8(wvalue);
    bool replaced = false;
    for (auto& existing : env) {
      if (existing.size() > name.size() && existing.compare(0, name.size(), name) == 0 &&
          existing[name.size()] == '=') {
        existing = entry;
        replaced = true;
      }
    }
    if (!replaced) env.push_back(entry);
  }
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

int open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#endif
  (void)pid;
  return -1;
}

// Output past this size grows into memory asked for in huge pages and populated in one call:
// faulting it in 4 KiB at a time costs more than reading it from the pipe.
constexpr std::size_t kLargeOutput = 4u << 20;

// The whole pages of [p, p + n) get the advice; a hint, whatever the system makes of it.
void advise(char* p, std::size_t n, int advice) {
  const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(p) + page - 1) / page * page;
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + n) / page * page;
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, advice);
}

// Room for `more` bytes behind what `out` holds, growing it geometrically.
void reserve_output(std::string& out, std::size_t more) {
  const std::size_t need = out.size() + more;
  if (need <= out.capacity()) return;
  const std::size_t capacity = std::max(need, out.capacity() * 2);
  if (capacity < kLargeOutput) {
    out.reserve(capacity);
    return;
  }
  std::string bigger;
  bigger.reserve(capacity);
  advise(bigger.data(), bigger.capacity(), MADV_HUGEPAGE);
  advise(bigger.data(), bigger.capacity(), MADV_POPULATE_WRITE);
  bigger.append(out);
  out.swap(bigger);
}

int poll_one(int fd, short events, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, timeout_ms);
    if (r >= 0 || errno != EINTR) return r;
    if (timeout_ms >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      timeout_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
  }
}

}  // namespace

// A terminated child first gets SIGTERM, so that it can leave a lock it shares with other
// processes (the output block's semaphore outlives a process killed while holding it); one
// that is still there after the grace time gets SIGKILL from the next wait() or read_output(),
// and what is left of its group when the object goes.
constexpr auto kTerminateGrace = std::chrono::milliseconds(300);
// Waits look this often whether a terminated child needs the hard signal.
constexpr int kWaitSliceMs = 100;
// Output is read straight into the caller's string in blocks of this size, and one call
// returns after this much at most.
constexpr std::size_t kOutputBlock = 256u << 10;
constexpr std::size_t kOutputCallLimit = 4u << 20;

struct child_process::impl {
  pid_t pid = -1;
  bool own_group = false;
  fd_holder pidfd;
  fd_holder output;
  std::mutex m;  // guards the fields below against terminate() on another thread
  // An ended child is seen without being reaped, and reaped only when the object goes: until
  // then its id, which is also its group's, cannot pass to another process, so the group can
  // still be signalled after the child itself has ended.
  bool exited = false;
  bool lost = false;  // reaped by someone else: its id may be another process's by now
  int code = -1;      // the exit code when it ended by exit
  bool terminating = false;
  std::chrono::steady_clock::time_point terminated_at;

  // Caller holds m.
  void signal_locked(int sig) {
    if (lost) return;
    if (own_group) {
      ::kill(-pid, sig);
    } else if (!exited) {
      ::kill(pid, sig);
    }
  }

  // Caller holds m.
  void escalate_locked() {
    if (terminating && std::chrono::steady_clock::now() - terminated_at >= kTerminateGrace)
      signal_locked(SIGKILL);
  }

  // Whether the child has ended, without reaping it; blocking when asked. Caller holds m.
  bool check_exit_locked(bool block) {
    if (exited) return true;
    for (;;) {
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(pid), &info,
                   WEXITED | WNOWAIT | (block ? 0 : WNOHANG)) == 0) {
        if (info.si_pid == 0) return false;  // still running
        exited = true;
        code = info.si_code == CLD_EXITED ? info.si_status : -1;
        return true;
      }
      if (errno == EINTR) continue;
      // Someone else reaped it (ECHILD): it has ended all the same.
      exited = true;
      lost = true;
      code = 0;
      return true;
    }
  }
};

child_process::child_process(std::unique_ptr<impl> p) : impl_(std::move(p)) {}

child_process::~child_process() {
  impl& p = *impl_;
  std::lock_guard<std::mutex> g(p.m);
  // A terminated group does not outlive its object, even where a member ignored the polite
  // request or the child itself had already gone.
  if (p.terminating) p.signal_locked(SIGKILL);
  if (!p.lost && p.check_exit_locked(false)) {
    while (::waitpid(p.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

std::unique_ptr<child_process> child_process::start(const std::wstring& command_line,
                                                    const process_options& options,
                                                    std::wstring* error) {
  auto fail = [error](const std::wstring& why) -> std::unique_ptr<child_process> {
    if (error) *error = why;
    return nullptr;
  };
  const std::vector<std::wstring> wargs = qv::cmdline::split_command_line(command_line);
  if (wargs.empty()) return fail(L"empty command line");
  const std::string program = find_program(qv::text::wide_to_utf8(wargs[0]));
  if (program.empty()) return fail(L"program not found: " + wargs[0]);

  std::vector<std::string> args;
  for (const auto& a : wargs) args.push_back(qv::text::wide_to_utf8(a));
  args[0] = program;
  std::vector<char*> argv = pointers(args);
  std::vector<std::string> env = build_environment(options);
  std::vector<char*> envp = pointers(env);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (options.own_group) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attr, 0);
  }
  posix_spawnattr_setflags(&attr, flags);
  sigset_t none, defaults;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  // A host that ignores SIGPIPE for its sockets must not hand that on.
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  fd_holder read_end, write_end;
  if (options.capture_output) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      posix_spawn_file_actions_destroy(&actions);
      posix_spawnattr_destroy(&attr);
      return fail(L"pipe failed");
    }
    read_end.reset(fds[0]);
    write_end.reset(fds[1]);
    // A larger pipe lets a child that writes much run on while the reader waits for its turn;
    // where the system refuses, the default size serves.
    ::fcntl(read_end.fd, F_SETPIPE_SZ, 1 << 20);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, write_end.fd, 1);
    posix_spawn_file_actions_adddup2(&actions, write_end.fd, 2);
  }

  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return fail(L"cannot start " + wargs[0] + L": " + qv::text::utf8_to_wide(std::strerror(rc)));

  auto p = std::make_unique<impl>();
  p->pid = pid;
  p->own_group = options.own_group;
  p->pidfd.reset(open_pidfd(pid));
  if (options.capture_output) {
    write_end.reset();  // only the child writes; the end of output needs every writer gone
    ::fcntl(read_end.fd, F_SETFL, ::fcntl(read_end.fd, F_GETFL) | O_NONBLOCK);
    p->output.reset(read_end.fd);
    read_end.fd = -1;
  }
  return std::unique_ptr<child_process>(new child_process(std::move(p)));
}

bool child_process::wait(int timeout_ms) {
  impl& p = *impl_;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    int slice = kWaitSliceMs;
    if (timeout_ms >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      slice = static_cast<int>(std::max<long long>(0, std::min<long long>(left, slice)));
    }
    // The wait itself runs without the mutex so that terminate() can get through meanwhile.
    if (p.pidfd.fd >= 0) {
      const int r = poll_one(p.pidfd.fd, POLLIN, slice);
      if (r > 0) {  // readable once the process has ended
        std::lock_guard<std::mutex> g(p.m);
        return p.check_exit_locked(true);
      }
      if (r < 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));  // look again below
    } else {
      // Without process descriptors: look every few milliseconds.
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(slice);
      for (;;) {
        {
          std::lock_guard<std::mutex> g(p.m);
          if (p.check_exit_locked(false)) return true;
        }
        if (std::chrono::steady_clock::now() >= until) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
    {
      std::lock_guard<std::mutex> g(p.m);
      if (p.check_exit_locked(false)) return true;
      p.escalate_locked();
    }
    if (timeout_ms >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
  }
}

void child_process::terminate() {
  impl& p = *impl_;
  std::lock_guard<std::mutex> g(p.m);
  p.check_exit_locked(false);
  if (p.lost || (p.exited && !p.own_group)) return;
  if (p.terminating) {
    p.escalate_locked();
    return;
  }
  p.terminating = true;
  p.terminated_at = std::chrono::steady_clock::now();
  p.signal_locked(SIGTERM);
}

int child_process::exit_code() const {
  impl& p = *impl_;
  std::lock_guard<std::mutex> g(p.m);
  return p.exited ? p.code : -1;
}

bool child_process::read_output(std::string& out, int wait_ms) {
  impl& p = *impl_;
  if (p.output.fd < 0) return false;
  std::size_t got = 0;
  bool waited = false;
  for (;;) {
    const std::size_t at = out.size();
    reserve_output(out, kOutputBlock);
    out.resize(at + kOutputBlock);
    const ssize_t n = ::read(p.output.fd, &out[at], kOutputBlock);
    out.resize(at + (n > 0 ? static_cast<std::size_t>(n) : 0));
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      // A short read emptied the pipe; a writer that never pauses gets the caller back too.
      if (static_cast<std::size_t>(n) < kOutputBlock || got >= kOutputCallLimit) return true;
      continue;
    }
    if (n == 0) {
      p.output.reset();
      return false;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      p.output.reset();
      return false;
    }
    if (got > 0 || waited || wait_ms == 0) return true;
    {
      // A reader that outlives the child is the one left to give its group the hard signal.
      std::lock_guard<std::mutex> g(p.m);
      p.escalate_locked();
    }
    poll_one(p.output.fd, POLLIN, wait_ms);
    waited = true;
  }
}

}  // namespace tiv::android
