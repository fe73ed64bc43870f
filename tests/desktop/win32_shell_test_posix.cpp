// "Win32Shell.Object" on Linux: links and deep trees in the folder walks, the desktop opener and
// direct starts, the process list.
#include "desktop/win32_shell.h"
#include "shell_lua.h"
#include "test_files.h"

#include "qv/text.h"

#include <gtest/gtest.h>

#include <lauxlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string run(const std::string& code) { return shell_test::run(shell_test::obj() + code); }

std::string lua_path(const fs::path& p) { return "[[" + p.string() + "]]"; }

// Waits (bounded) for a file that a started program writes; its content, or "" when none came.
std::string wait_for_file(const fs::path& file) {
  for (int i = 0; i < 1000; ++i) {
    std::error_code ec;
    if (fs::exists(file, ec)) {
      // The writer renames its file into place, so what exists is whole.
      return tiv_test_files::ReadFile(file);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "";
}

// Waits (bounded, as a hang guard) until no process runs whose command line names something below
// dir. A program started through posix_spawn has run its exec when the start returns, so once
// none runs, every program that the calls before this started has ended (and left what it writes).
bool wait_programs_below_ended(const fs::path& dir) {
  const std::string needle = dir.string();
  for (int i = 0; i < 1000; ++i) {
    bool running = false;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
      const std::string name = e.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::string cmdline = tiv_test_files::ReadFile(e.path() / "cmdline");
      for (auto& c : cmdline) {
        if (c == '\0') c = ' ';
      }
      if (cmdline.rfind("<missing", 0) != 0 && cmdline.find(needle) != std::string::npos) running = true;
    }
    if (!running) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// PATH set for the test's life.
class path_override {
 public:
  explicit path_override(const std::string& value) {
    const char* old = std::getenv("PATH");
    had_ = old != nullptr;
    if (old) old_ = old;
    ::setenv("PATH", value.c_str(), 1);
  }
  ~path_override() {
    if (had_)
      ::setenv("PATH", old_.c_str(), 1);
    else
      ::unsetenv("PATH");
  }

 private:
  bool had_ = false;
  std::string old_;
};

// A shell script that writes its arguments (one a line) and its folder into out, atomically.
void write_recorder(const fs::path& script, const fs::path& out) {
  tiv_test_files::WriteFile(script,
                            "#!/bin/sh\n"
                            "{ for a in \"$@\"; do echo \"$a\"; done; echo \"cwd=$(pwd)\"; } > '" +
                                out.string() + ".part'\n"
                                "mv '" + out.string() + ".part' '" + out.string() + "'\n");
  ::chmod(script.c_str(), 0755);
}

}  // namespace

TEST(Win32ShellPosix, WalksNeverFollowLinks) {
  tiv_test_files::TempDir tmp;
  const fs::path root = tmp.path() / "root", outside = tmp.path() / "outside";
  fs::create_directories(root / "sub");
  fs::create_directories(outside / "big");
  tiv_test_files::WriteFile(root / "sub" / "f.txt", "1234");
  tiv_test_files::WriteFile(outside / "big" / "data", std::string(1000, 'x'));
  tiv_test_files::WriteFile(outside / "file", std::string(500, 'y'));
  fs::create_directory_symlink(outside / "big", root / "dirlink");
  fs::create_symlink(outside / "file", root / "filelink");
  fs::create_directory_symlink(root, root / "sub" / "loop");
  fs::create_symlink(tmp.path() / "nothing", root / "dangling");

  EXPECT_EQ(run("local r = {} for _, v in ipairs(o:EnumFile(3, " + lua_path(root) + ")) do "
                "r[#r + 1] = v.type .. v.path:sub(" + std::to_string(root.string().size() + 2) +
                ") end table.sort(r) result = table.concat(r, ' ')"),
            "1dangling 1filelink 1sub\\f.txt 2dirlink 2sub 2sub\\loop");
  // Only the real file below the folder counts.
  EXPECT_EQ(run("result = o:GetDirSize(" + lua_path(root) + ")"), "4");
}

TEST(Win32ShellPosix, WalksStopAtDepth128) {
  tiv_test_files::TempDir tmp;
  fs::path deepest = tmp.path();
  for (int i = 1; i <= 130; ++i) {
    deepest /= "d";
    if (i == 128) tiv_test_files::WriteFile(deepest.parent_path() / "at127", "x");
    fs::create_directory(deepest);
    if (i == 128 || i == 129) tiv_test_files::WriteFile(deepest / "f", "ab");
  }
  // Folders down to level 129 are listed; level 128 is the last one whose content is read.
  EXPECT_EQ(run("local n, deepest = 0, 0 for _, v in ipairs(o:EnumFile(3, " + lua_path(tmp.path()) +
                ")) do n = n + 1 local _, depth = v.path:gsub('\\\\d', '') "
                "if depth > deepest then deepest = depth end end result = n .. ' ' .. deepest"),
            "131 129");
  EXPECT_EQ(run("result = o:GetDirSize(" + lua_path(tmp.path()) + ")"), "3");
}

TEST(Win32ShellPosix, OpensThroughTheDesktopOpener) {
  tiv_test_files::TempDir tmp;
  const fs::path bin = tmp.path() / "bin", record = tmp.path() / "opened";
  fs::create_directories(bin);
  write_recorder(bin / "xdg-open", record);
  tiv_test_files::WriteFile(tmp.path() / "doc.txt", "text");
  // Marked executable but no program (as every file on some drives): still a document.
  tiv_test_files::WriteFile(tmp.path() / "marked.txt", "just text");
  ::chmod((tmp.path() / "marked.txt").c_str(), 0755);
  path_override path(bin.string() + ":/usr/bin:/bin");

  const struct {
    std::string call, result, opened;
  } cases[] = {
      {"tostring(o:ShellOpen(" + lua_path(tmp.path() / "doc.txt") + "))", "true",
       (tmp.path() / "doc.txt").string()},
      // Windows path text works as well.
      {"select('#', o:OpenDir([[" + tmp.path().string() + "\\bin]]))", "0", bin.string()},
      {"o:ShellExecute(0, 'open', " + lua_path(tmp.path() / "doc.txt") + ", '', '', 'SW_SHOW')",
       "0", (tmp.path() / "doc.txt").string()},
      {"o:ShellExecute(0, nil, 'https://example.com/a b')", "0", "https://example.com/a b"},
      {"tostring(o:ShellOpen(" + lua_path(tmp.path() / "marked.txt") + "))", "true",
       (tmp.path() / "marked.txt").string()},
  };
  for (const auto& c : cases) {
    fs::remove(record);
    EXPECT_EQ(run("result = " + c.call), c.result) << c.call;
    const std::string got = wait_for_file(record);
    EXPECT_EQ(got.substr(0, got.find('\n')), c.opened) << c.call;
  }
  // Not started at all: another verb, or nothing there (the shell's "not found" counts as opened
  // for ShellOpen, as on the other target).
  fs::remove(record);
  EXPECT_EQ(run("result = o:ShellExecute(0, 'print', " + lua_path(tmp.path() / "doc.txt") + ")"), "1");
  EXPECT_EQ(run("result = o:ShellExecute(0, 'open', " + lua_path(tmp.path() / "missing.txt") + ")"),
            "1");
  EXPECT_EQ(run("result = tostring(o:ShellOpen(" + lua_path(tmp.path() / "missing.txt") + "))"),
            "true");
  EXPECT_EQ(run("result = tostring(o:ShellOpen(''))"), "false");
  // Without an opener a document cannot be opened.
  {
    path_override none((tmp.path() / "empty").string());
    EXPECT_EQ(run("result = tostring(o:ShellOpen(" + lua_path(tmp.path() / "doc.txt") + "))"),
              "false");
    EXPECT_EQ(run("result = o:ShellExecute(0, 'open', " + lua_path(tmp.path() / "doc.txt") + ")"),
              "1");
  }
  ASSERT_TRUE(wait_programs_below_ended(tmp.path()));
  EXPECT_FALSE(fs::exists(record));
}

TEST(Win32ShellPosix, StartsProgramsDirectlyWithWindowsParameters) {
  tiv_test_files::TempDir tmp;
  const fs::path prog = tmp.path() / "prog", record = tmp.path() / "ran";
  const fs::path work = tmp.path() / "work";
  fs::create_directories(work);
  write_recorder(prog, record);
  EXPECT_EQ(run("result = o:ShellExecute(0, 'Open', " + lua_path(prog) +
                ", [[one \"two three\" a\\\"b]], " + lua_path(work) + ", 'SW_HIDE')"),
            "0");
  EXPECT_EQ(wait_for_file(record), "one\ntwo three\na\"b\ncwd=" + work.string() + "\n");
  fs::remove(record);
  EXPECT_EQ(run("result = tostring(o:ShellOpen(" + lua_path(prog) + "))"), "true");
  EXPECT_EQ(wait_for_file(record).substr(0, 4), "cwd=");
  // A working folder that does not exist fails the start.
  fs::remove(record);
  EXPECT_EQ(run("result = o:ShellExecute(0, '', " + lua_path(prog) + ", '', " +
                lua_path(tmp.path() / "nowhere") + ")"),
            "1");
}

TEST(Win32ShellPosix, ProcessListAndTerminate) {
  pid_t pid = 0;
  char prog[] = "/bin/sleep", arg[] = "60";
  char* argv[] = {prog, arg, nullptr};
  ASSERT_EQ(posix_spawn(&pid, prog, nullptr, nullptr, argv, environ), 0);
  const std::string exe = fs::canonical("/bin/sleep").string();
  EXPECT_EQ(run("for _, p in ipairs(o:GetProcessList()) do if p.id == " + std::to_string(pid) +
                " then result = p.path end end"),
            exe);
  EXPECT_EQ(run("local me = 0 for _, p in ipairs(o:GetProcessList()) do "
                "if type(p.id) ~= 'number' or type(p.path) ~= 'string' then me = -1000 end "
                "if p.id == " + std::to_string(::getpid()) + " then me = me + 1 end end result = me"),
            "1");
  run("o:TerminateProcess(" + std::to_string(pid) + ", 0) result = ''");
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

TEST(Win32ShellPosix, NoSuchThingHereGivesTheFailureResults) {
  EXPECT_EQ(run("result = #o:FileDialog(true, 'All|*.*') .. #o:FileDialog(false, 'x|*.x', 'x', 'n', true) "
                ".. '[' .. o:FolderDialog('t', '/tmp') .. ']'"),
            "00[]");
  EXPECT_EQ(run("result = select('#', o:GetCursorPos()) .. select('#', o:GetWorkArea()) .. "
                "select('#', o:GetWorkArea(5, 5)) .. select('#', o:GetScreenSize()) .. "
                "select('#', o:IsNowFullScreen()) .. select('#', o:ShowCursor(false)) .. "
                "select('#', o:RefreshIcon()) .. select('#', o:RebootMachine())"),
            "00000000");
  EXPECT_EQ(run("result = tostring(o:IsKeyDown(65)) .. tostring(o:GetAsyncKeyState(65)) .. "
                "o:GetKeyState(20) .. tostring(o:IsWow64())"),
            "falsefalse0false");
  EXPECT_EQ(run("result = tostring(o:CreateRegKey('HKEY_CURRENT_USER', 'Software\\\\Tivorel')) .. "
                "tostring(o:SetRegValue('HKEY_CURRENT_USER', 'Software', 'v', 1)) .. "
                "tostring(o:SetRegValue('HKEY_CURRENT_USER', 'Software', 'v', 's')) .. '[' .. "
                "o:QueryRegValue('HKEY_CURRENT_USER', 'Software', 'v') .. ']' .. "
                "tostring(o:DeleteRegValue('HKEY_CURRENT_USER', 'Software', 'v')) .. "
                "tostring(o:DeleteRegKey('HKEY_CURRENT_USER', 'Software\\\\Tivorel'))"),
            "falsefalsefalse[]falsefalse");
  EXPECT_EQ(run("result = o:MessageBox(0, 'Caption', 'Question?')"), "7");
}
