#include "shell_os.h"
#include "shell_os_posix.h"

#include "desktop/log.h"
#include "shell_helpers.h"
#include "qv/command_line.h"
#include "qv/path.h"
#include "qv/text.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <cwctype>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <thread>

extern char** environ;

namespace desktop::os {
namespace testing {
void (*before_move)(const std::string&) = nullptr;
bool no_atomic_rename = false;
}  // namespace testing
namespace {

std::string native(const std::wstring& path) {
  return qv::text::wide_to_utf8(qv::path::to_native(path));
}

bool lexists(const std::string& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0;
}

// Closes a listing when it goes out of scope.
struct dir_holder {
  DIR* d;
  ~dir_holder() {
    if (d) ::closedir(d);
  }
};

struct spawn_actions {
  posix_spawn_file_actions_t a;
  spawn_actions() { posix_spawn_file_actions_init(&a); }
  ~spawn_actions() { posix_spawn_file_actions_destroy(&a); }
};
struct spawn_attributes {
  posix_spawnattr_t a;
  spawn_attributes() { posix_spawnattr_init(&a); }
  ~spawn_attributes() { posix_spawnattr_destroy(&a); }
};

// Starts the program without waiting for it: in a session of its own (a viewer outlives the
// host's Ctrl-C), with no input and none of the host's other descriptors. A thread of its own
// collects its exit status, so nothing is left behind and nothing here waits. A program without
// a folder is searched in PATH.
bool spawn_detached(const std::vector<std::string>& args, const std::string& directory) {
  if (args.empty() || args[0].empty()) return false;
  spawn_actions actions;
  posix_spawn_file_actions_addopen(&actions.a, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions.a, 3);
  if (!directory.empty() && posix_spawn_file_actions_addchdir_np(&actions.a, directory.c_str()) != 0)
    return false;
  spawn_attributes attributes;
  posix_spawnattr_setflags(&attributes.a, POSIX_SPAWN_SETSID);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const bool search = args[0].find('/') == std::string::npos;
  const int rc = search ? posix_spawnp(&pid, argv[0], &actions.a, &attributes.a, argv.data(), environ)
                        : posix_spawn(&pid, argv[0], &actions.a, &attributes.a, argv.data(), environ);
  if (rc != 0) return false;
  try {
    std::thread([pid] {
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // Without a thread the child stays a zombie until the host ends; it has started all the same.
  }
  return true;
}

bool is_address(const std::wstring& target) {
  const std::size_t colon = target.find(L"://");
  if (colon != std::wstring::npos && colon > 0) {
    for (std::size_t i = 0; i < colon; ++i)
      if (!std::iswalnum(static_cast<wint_t>(target[i])) && target[i] != L'+' &&
          target[i] != L'-' && target[i] != L'.')
        return false;
    return true;
  }
  return target.compare(0, 7, L"mailto:") == 0;
}

bool is_program(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::vector<std::string> with_parameters(std::string program, const std::wstring& parameters) {
  std::vector<std::string> args{std::move(program)};
  // The parameters are one command-line tail, split by the Windows rules as the other target's
  // system splits it.
  const std::vector<std::wstring> split = qv::cmdline::split_command_line(L"x " + parameters);
  for (std::size_t i = 1; i < split.size(); ++i) args.push_back(qv::text::wide_to_utf8(split[i]));
  return args;
}

enum class start_result { started, not_found, no_opener };

// What the "open" action does: a program starts itself, everything else goes to the desktop's
// opener (xdg-open), which picks the program for a document, folder or address.
start_result open_target(const std::wstring& target, const std::wstring& parameters,
                         const std::string& directory) {
  const std::string path = native(target);
  if (lexists(path)) {
    // A file marked executable that the system cannot run (a document on a drive that marks
    // every file so) goes to the opener as a document does.
    if (is_program(path) && spawn_detached(with_parameters(path, parameters), directory))
      return start_result::started;
    return spawn_detached({"xdg-open", path}, directory) ? start_result::started
                                                         : start_result::no_opener;
  }
  if (is_address(target))
    return spawn_detached({"xdg-open", qv::text::wide_to_utf8(target)}, directory)
               ? start_result::started
               : start_result::no_opener;
  if (path.find('/') == std::string::npos) {
    // A bare program name is searched in PATH, with or without a trailing ".exe".
    std::string name = path;
    if (name.size() > 4 && qv::text::utf8_to_wide(name.substr(name.size() - 4)) == L".exe")
      name.resize(name.size() - 4);
    if (spawn_detached(with_parameters(name, parameters), directory)) return start_result::started;
  }
  return start_result::not_found;
}

void about_to_move(const std::string& target) {
  if (testing::before_move) testing::before_move(target);
}

// Another volume: a file moves as a copy, which is never made over an existing file; a folder
// does not move.
bool move_across_volumes(const std::string& a, const std::string& b) {
  struct stat st {};
  if (::lstat(a.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::error_code ec;
  about_to_move(b);
  if (!std::filesystem::copy_file(a, b, ec)) return false;
  if (::unlink(a.c_str()) != 0) {
    ::unlink(b.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::uint32_t tick_count() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
}

std::wstring temp_dir() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = (env && *env) ? env : "/tmp";
  if (dir.back() != '/') dir += '/';
  return qv::text::utf8_to_wide(dir);
}

// ---- files -------------------------------------------------------------------------------------

bool rename_path(const std::wstring& from, const std::wstring& to) {
  const std::string a = native(from), b = native(to);
  // The system's plain rename replaces a target silently, and a check before it leaves a gap in
  // which one can appear; the other target's rename never replaces.
  if (!testing::no_atomic_rename) {
    about_to_move(b);
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EXDEV) return move_across_volumes(a, b);
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
  }
  // A file system (or kernel) without that rename.
  struct stat st {};
  if (::lstat(a.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) {
    // The target is claimed as an empty folder, which a rename replaces only while it is empty.
    about_to_move(b);
    if (::mkdir(b.c_str(), 0700) != 0) return false;
    if (::rename(a.c_str(), b.c_str()) == 0) return true;
    ::rmdir(b.c_str());
    return false;
  }
  // A second name, which link() never gives over an existing one, then the first one goes.
  about_to_move(b);
  if (::link(a.c_str(), b.c_str()) != 0) {
    if (errno == EXDEV) return move_across_volumes(a, b);
    if (errno == EPERM || errno == EOPNOTSUPP)
      LogLine("Rename: " + b + " was not made: the file system can neither refuse to replace "
              "in a rename nor link (" + std::strerror(errno) + ")");
    return false;
  }
  if (::unlink(a.c_str()) == 0) return true;
  ::unlink(b.c_str());
  return false;
}

bool delete_file(const std::wstring& path) {
  const std::string p = native(path);
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(p.c_str()) == 0;
}

bool copy_file(const std::wstring& from, const std::wstring& to) {
  std::error_code ec;
  const std::filesystem::path a = native(from), b = native(to);
  if (!std::filesystem::is_regular_file(a, ec)) return false;
  return std::filesystem::copy_file(a, b, std::filesystem::copy_options::overwrite_existing, ec) &&
         !ec;
}

std::vector<std::wstring> matching_names(const std::wstring& folder, const std::wstring& pattern) {
  std::wstring dir = folder;
  std::wstring mask = pattern;
  const std::size_t cut = pattern.find_last_of(L"\\/");
  if (cut != std::wstring::npos) {
    dir += L'\\' + pattern.substr(0, cut);
    mask = pattern.substr(cut + 1);
  }
  std::vector<std::wstring> names;
  dir_holder h{::opendir(native(dir.empty() ? L"." : dir).c_str())};
  if (!h.d) return names;
  while (const dirent* e = ::readdir(h.d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::wstring wide = qv::text::utf8_to_wide(name);
    if (MatchesFilePattern(wide, mask)) names.push_back(std::move(wide));
  }
  // The directory's own order changes with its history; the other target lists by name.
  std::sort(names.begin(), names.end());
  return names;
}

// ---- starting things ---------------------------------------------------------------------------

open_result shell_open(const std::wstring& target) {
  switch (open_target(target, std::wstring(), std::string())) {
    case start_result::started:
      return open_result::ok;
    case start_result::not_found:
      return open_result::not_found;
    case start_result::no_opener:
      break;
  }
  return open_result::no_program;
}

void choose_program(const std::wstring&) {}

// Only the "open" action exists here (the window and show state have no meaning).
bool shell_execute(std::uintptr_t, const std::wstring& verb, const std::wstring& file,
                   const std::wstring& parameters, const std::wstring& directory, int) {
  std::wstring v = verb;
  for (auto& c : v) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  if (!v.empty() && v != L"open") return false;
  return open_target(file, parameters, directory.empty() ? std::string() : native(directory)) ==
         start_result::started;
}

// ---- user interface: none here -----------------------------------------------------------------

std::vector<std::wstring> file_dialog(const file_dialog_request&) { return {}; }
std::wstring folder_dialog(const std::wstring&, const std::wstring&) { return std::wstring(); }

int message_box(std::uintptr_t, const std::wstring& caption, const std::wstring& text) {
  LogLine("MessageBox (answered No): " + qv::text::wide_to_utf8(caption) + ": " +
          qv::text::wide_to_utf8(text));
  return 7;
}

bool cursor_pos(int&, int&) { return false; }
bool work_area(int, int, int&, int&, int&, int&) { return false; }
bool screen_size(int&, int&) { return false; }
bool key_down(int) { return false; }
bool async_key_state(int) { return false; }
int key_state(int) { return 0; }
void show_cursor(bool) {}
int full_screen_state() { return -1; }

// ---- system ------------------------------------------------------------------------------------

void refresh_icons() {}

void reboot() { LogLine("RebootMachine: the machine is not restarted from here"); }

bool is_wow64() { return false; }

std::vector<process_entry> process_list() {
  std::vector<process_entry> out;
  dir_holder h{::opendir("/proc")};
  if (!h.d) return out;
  while (const dirent* e = ::readdir(h.d)) {
    char* end = nullptr;
    const unsigned long pid = std::strtoul(e->d_name, &end, 10);
    if (!end || *end != '\0' || pid == 0 || pid > UINT32_MAX) continue;
    const std::string link = std::string("/proc/") + e->d_name + "/exe";
    std::string target(4096, '\0');
    const ssize_t n = ::readlink(link.c_str(), &target[0], target.size());
    // Unreadable (another user's process, a kernel thread) or cut: left out.
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) continue;
    target.resize(static_cast<std::size_t>(n));
    out.push_back({qv::text::utf8_to_wide(target), static_cast<std::uint32_t>(pid)});
  }
  return out;
}

void terminate_process(std::uint32_t pid, std::uint32_t) {
  if (pid > 0 && pid <= static_cast<std::uint32_t>(INT32_MAX))
    ::kill(static_cast<pid_t>(pid), SIGKILL);
}

// ---- registry: none here -----------------------------------------------------------------------

bool reg_create_key(int, const std::wstring&) { return false; }
bool reg_delete_key(int, const std::wstring&) { return false; }
bool reg_set_dword(int, const std::wstring&, const std::wstring&, std::uint32_t) { return false; }
bool reg_set_string(int, const std::wstring&, const std::wstring&, const std::wstring&) {
  return false;
}
reg_value reg_query(int, const std::wstring&, const std::wstring&) { return {}; }
bool reg_delete_value(int, const std::wstring&, const std::wstring&) { return false; }

}  // namespace desktop::os
