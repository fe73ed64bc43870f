#include "android/child_process.h"

#include <windows.h>

#include <cwctype>

namespace tiv::android {
namespace {

// Closes a kernel handle when it goes out of scope.
struct handle_holder {
  HANDLE h = nullptr;
  handle_holder() = default;
  explicit handle_holder(HANDLE v) : h(v) {}
  handle_holder(const handle_holder&) = delete;
  handle_holder& operator=(const handle_holder&) = delete;
  ~handle_holder() { reset(); }
  void reset(HANDLE v = nullptr) {
    if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    h = v;
  }
  HANDLE release() {
    HANDLE v = h;
    h = nullptr;
    return v;
  }
};

bool same_name(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

// A Unicode environment block: this process's variables with the options' ones set.
std::vector<wchar_t> build_environment(const process_options& options) {
  std::vector<std::wstring> vars;
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) vars.emplace_back(p);
    ::FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : options.environment) {
    bool replaced = false;
    for (auto& v : vars) {
      // Entries such as "=C:=C:\" start with '=': the name is looked for from index 1.
      const std::size_t eq = v.find(L'=', 1);
      if (eq != std::wstring::npos && same_name(v.substr(0, eq), name)) {
        v = name + L"=" + value;
        replaced = true;
      }
    }
    if (!replaced) vars.push_back(name + L"=" + value);
  }
  std::vector<wchar_t> out;
  for (const auto& v : vars) {
    out.insert(out.end(), v.begin(), v.end());
    out.push_back(L'\0');
  }
  out.push_back(L'\0');
  if (vars.empty()) out.push_back(L'\0');
  return out;
}

std::wstring last_error_text(const wchar_t* what, DWORD code = ::GetLastError()) {
  return std::wstring(what) + L" (error " + std::to_wstring(code) + L")";
}

constexpr int kStartAttempts = 4;

bool transient_start_failure(DWORD code) {
  return code == ERROR_INTERNAL_ERROR || code == ERROR_NO_SYSTEM_RESOURCES ||
         code == ERROR_NOT_ENOUGH_MEMORY || code == ERROR_OUTOFMEMORY ||
         code == ERROR_COMMITMENT_LIMIT;
}

}  // namespace

struct child_process::impl {
  handle_holder process;
  handle_holder job;       // end_with_owner: closing it ends the child
  bool whole_job = false;  // own_job: terminate() ends every process of the job
  handle_holder output;    // capture_output: read end of the pipe
};

child_process::child_process(std::unique_ptr<impl> p) : impl_(std::move(p)) {}

child_process::~child_process() = default;

std::unique_ptr<child_process> child_process::start(const std::wstring& command_line,
                                                    const process_options& options,
                                                    std::wstring* error) {
  auto fail = [error](const std::wstring& why) -> std::unique_ptr<child_process> {
    if (error) *error = why;
    return nullptr;
  };
  auto p = std::make_unique<impl>();

  STARTUPINFOW si;
  ::GetStartupInfoW(&si);
  si.cb = sizeof si;
  // The C runtime's descriptor table of this process is no business of the child.
  si.cbReserved2 = 0;
  si.lpReserved2 = nullptr;
  si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  si.wShowWindow = SW_HIDE;
  si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);

  handle_holder child_write, child_input;
  if (options.capture_output) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE rd = nullptr, wr = nullptr;
    if (!::CreatePipe(&rd, &wr, &sa, 65536)) return fail(last_error_text(L"CreatePipe failed"));
    p->output.reset(rd);
    child_write.reset(wr);
    ::SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
    child_input.reset(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                    OPEN_EXISTING, 0, nullptr));
    si.hStdInput = child_input.h == INVALID_HANDLE_VALUE ? nullptr : child_input.h;
    si.hStdOutput = wr;
    si.hStdError = wr;
  }

  DWORD flags = 0;
  std::vector<wchar_t> env;
  if (!options.environment.empty()) {
    env = build_environment(options);
    flags |= CREATE_UNICODE_ENVIRONMENT;
  }
  if (options.end_with_owner || options.own_job) {
    p->job.reset(::CreateJobObjectW(nullptr, nullptr));
    if (p->job.h) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
      // Silent breakaway unless the job is to hold everything the child starts: a server the
      // child starts for itself must outlive it.
      if (options.end_with_owner)
        info.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      if (!options.own_job)
        info.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
      if (!::SetInformationJobObject(p->job.h, JobObjectExtendedLimitInformation, &info,
                                     sizeof info)) {
        p->job.reset();
      }
    }
    if (p->job.h) flags |= CREATE_SUSPENDED;
  }

  std::vector<wchar_t> line(command_line.begin(), command_line.end());
  line.push_back(L'\0');
  PROCESS_INFORMATION pi{};
  // A system short of resources (and Wine, when the new process dies while it is being set up
  // under load) fails a start that succeeds a moment later: try a few times before giving up.
  for (int attempt = 0;; ++attempt) {
    if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags,
                         env.empty() ? nullptr : env.data(), nullptr, &si, &pi)) {
      break;
    }
    const DWORD why = ::GetLastError();
    if (attempt >= kStartAttempts - 1 || !transient_start_failure(why))
      return fail(last_error_text(L"CreateProcessW failed", why));
    ::Sleep(50u << attempt);
  }
  handle_holder thread(pi.hThread);
  p->process.reset(pi.hProcess);
  if (flags & CREATE_SUSPENDED) {
    // Inside a job that forbids nesting this fails; the child then simply runs unbound.
    if (!::AssignProcessToJobObject(p->job.h, pi.hProcess)) p->job.reset();
    p->whole_job = options.own_job && p->job.h;
    ::ResumeThread(pi.hThread);
  }
  return std::unique_ptr<child_process>(new child_process(std::move(p)));
}

bool child_process::wait(int timeout_ms) {
  const DWORD limit = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
  return ::WaitForSingleObject(impl_->process.h, limit) == WAIT_OBJECT_0;
}

void child_process::terminate() {
  // The handles stay open until this object goes, so the process cannot be confused with a
  // later one; ending an ended process only fails.
  if (impl_->whole_job) {
    ::TerminateJobObject(impl_->job.h, 0);
  } else {
    ::TerminateProcess(impl_->process.h, 0);
  }
}

int child_process::exit_code() const {
  DWORD code = 0;
  if (!::GetExitCodeProcess(impl_->process.h, &code) || code == STILL_ACTIVE) return -1;
  return static_cast<int>(code);
}

bool child_process::read_output(std::string& out, int wait_ms) {
  // Read straight into the caller's string in large blocks; one call returns after a few
  // megabytes at most, so that a writer that never pauses gives the caller back too.
  constexpr DWORD kBlock = 256u << 10;
  constexpr std::size_t kCallLimit = 4u << 20;
  impl& p = *impl_;
  if (!p.output.h) return false;
  std::size_t got = 0;
  bool waited = false;
  for (;;) {
    DWORD avail = 0;
    if (!::PeekNamedPipe(p.output.h, nullptr, 0, nullptr, &avail, nullptr)) {
      p.output.reset();  // broken pipe: every writer has gone
      return false;
    }
    if (avail > 0) {
      const DWORD want = avail < kBlock ? avail : kBlock;
      const std::size_t at = out.size();
      out.resize(at + want);
      DWORD n = 0;
      const BOOL ok = ::ReadFile(p.output.h, &out[at], want, &n, nullptr);
      out.resize(at + n);
      if (!ok) {
        p.output.reset();
        return false;
      }
      got += n;
      if (avail <= kBlock || got >= kCallLimit) return true;
      continue;
    }
    if (got > 0 || waited || wait_ms == 0) return true;
    // Anonymous pipes cannot be waited on: wait for the process instead, which also wakes up
    // at once when it ends.
    ::WaitForSingleObject(p.process.h, static_cast<DWORD>(wait_ms));
    waited = true;
  }
}

}  // namespace tiv::android
