// A child process started from one command line, hidden, that can be waited for with a limit and
// ended from another thread. One implementation per OS (child_process_win32.cpp / _posix.cpp).
//
// Windows: CreateProcessW with the command line unchanged (the system searches the program).
// POSIX: the line is split by the Windows rules; a program given without a folder is looked up
// in this executable's folder first, then in PATH, and a trailing ".exe" may be left off on disk.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tiv::android {

struct process_options {
  // Variables set (or replaced) in the child's copy of this process's environment.
  std::vector<std::pair<std::wstring, std::wstring>> environment;
  // The child's standard output and error go, in order, into one pipe read with read_output();
  // its standard input is the null device. Otherwise it inherits this process's handles.
  bool capture_output = false;
  // POSIX: the child heads a new process group and terminate() ends the whole group, also
  // after the child itself has ended, so that what it started in its group ends with it.
  // Ignored on Windows.
  bool own_group = false;
  // Windows: the child runs in a job object of its own from which nothing breaks away, and
  // terminate() ends the whole job, also after the child itself has ended (what own_group
  // does on POSIX). Not for a child that starts a server which must outlive it. Ignored on
  // POSIX.
  bool own_job = false;
  // Windows: the child ends when this process ends or the object is destroyed (a job object
  // closed with it); what the child starts itself is not held. POSIX: ending this process's
  // group ends the child too, as it stays in the group. Ignored on POSIX.
  bool end_with_owner = false;
};

class child_process {
 public:
  // Starts the command line. Null when the program cannot be found or started; `error` (when
  // given) then says why.
  static std::unique_ptr<child_process> start(const std::wstring& command_line,
                                              const process_options& options,
                                              std::wstring* error = nullptr);
  // Does not end the process unless end_with_owner was asked for (Windows), or terminate()
  // was called: then what is left of its group gets the hard signal (POSIX).
  ~child_process();
  child_process(const child_process&) = delete;
  child_process& operator=(const child_process&) = delete;

  // Waits until the process has ended or timeout_ms have passed (negative: no limit).
  // True when it has ended.
  bool wait(int timeout_ms);
  // Ends the process: at once with exit code 0 on Windows; on POSIX with SIGTERM, and with
  // SIGKILL from a later wait() or read_output() when it is still there 300 ms after. Safe to
  // call from another thread while wait() runs. Once the process has ended it does nothing,
  // unless it heads a group (own_group, own_job): then the rest of the group is ended.
  void terminate();
  // The exit code once wait() returned true; -1 before, or when a signal ended the process.
  int exit_code() const;

  // capture_output only. Appends what the child wrote to `out`, waiting up to wait_ms for
  // something to arrive when nothing is there yet; a few megabytes at most per call, so that a
  // writer that never pauses gives the caller back. False at the end of the output (every
  // writer has closed the pipe); true otherwise, with or without new bytes.
  bool read_output(std::string& out, int wait_ms);

  struct impl;

 private:
  explicit child_process(std::unique_ptr<impl> p);
  std::unique_ptr<impl> impl_;
};

// This executable's folder, with a trailing separator.
std::wstring executable_directory();

}  // namespace tiv::android
