// Kills a child at points the test chooses, and tells exactly which of its steps had finished.
//
// The child runs the work and, after each step that has returned, writes one byte to a pipe.
// The parent waits for `after` such bytes, lets the child run on for a random short stretch (a
// spin of `spin` iterations, so that the kill lands anywhere inside the next step, not just at
// its start), kills it with SIGKILL and counts every byte the child wrote before it died: that
// count is the number of steps whose result must survive. No result depends on timing: every
// kill point must leave the stored data sound.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <functional>

namespace tiv_test_kill {

struct kill_result {
  int committed = 0;     // steps that returned before the kill
  bool finished = false;  // the child ran all its steps (no kill landed)
  int exit_code = -1;     // how the child ended by itself (-1: killed)
};

// work(step_done) runs in a forked child; call step_done() after each step has returned.
inline kill_result RunAndKill(const std::function<void(const std::function<void()>&)>& work,
                              int after, std::uint32_t spin) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const int out = fds[1];
    work([out] {
      const char b = 's';
      while (::write(out, &b, 1) < 0) {
      }
    });
    const char end = 'e';
    while (::write(out, &end, 1) < 0) {
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  kill_result r;
  char b = 0;
  while (r.committed < after && ::read(fds[0], &b, 1) == 1) {
    if (b == 'e') {
      r.finished = true;
      break;
    }
    ++r.committed;
  }
  volatile std::uint32_t sink = 0;
  for (std::uint32_t i = 0; i < spin; ++i) sink = sink + i;
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  // What the child wrote before it died counts too.
  while (!r.finished && ::read(fds[0], &b, 1) == 1) {
    if (b == 'e') r.finished = true;
    else ++r.committed;
  }
  ::close(fds[0]);
  return r;
}

}  // namespace tiv_test_kill
