#include "desktop/win32_shell.h"
#include "shell_lua.h"
#include "system_facts.h"
#include "test_files.h"

#include "desktop/archive.h"
#include "hostbase/archive_extractor.h"
#include "hostbase/path_manager.h"
#include "hostbase/process_queue.h"
#include "hostbase/profile.h"
#include "hostbase/thread_pool.h"
#include "loop_deadline.h"
#include "qv/message_loop.h"
#include "qv/text.h"

#include <gtest/gtest.h>

#include <lauxlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using shell_test::obj;
using shell_test::run;

}  // namespace

TEST(Win32Shell, TicksAndEndsTheLoop) {
  // The milliseconds since the system started, read between two readings of the system's own.
  const shell_test::uptime_ms before = shell_test::system_uptime();
  const std::string tick = run("result = string.format('%.0f', _G['Win32Shell.Object']:GetTickCount())");
  const shell_test::uptime_ms after = shell_test::system_uptime();
  ASSERT_FALSE(tick.empty());
  ASSERT_EQ(tick.find_first_not_of("0123456789"), std::string::npos) << tick;
  // 32 bits of them, as on Windows: compared modulo 2^32.
  const auto since_before = static_cast<std::uint32_t>(std::stoull(tick) - before.low);
  EXPECT_LE(since_before, after.high - before.low) << tick;
  // With "." the exit code is argument 1; with ":" it is the object, which reads as 0.
  EXPECT_EQ(run("_G['Win32Shell.Object'].PostQuitMessage(3) result = ''"), "");
  EXPECT_EQ(qv::loop::run(), 3);
  EXPECT_EQ(run("_G['Win32Shell.Object']:PostQuitMessage(5) result = ''"), "");
  EXPECT_EQ(qv::loop::run(), 0);
}

TEST(Win32Shell, SetProfileStringFollowsTheProfileRules) {
  const struct {
    const wchar_t* text;
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* value;
    const wchar_t* result;
  } cases[] = {
      // The key keeps its spelling; section and key match without regard to case.
      {L"[Main]\r\nName = old\r\n", L"main", L"NAME", L"new", L"[Main]\r\nName=new\r\n"},
      // A new key goes after the section's last entry, before blank lines and the next section.
      {L"[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n", L"a", L"z", L"3",
       L"[a]\r\nx=1\r\nz=3\r\n\r\n[b]\r\ny=2\r\n"},
      {L"[a]\r\n[b]\r\n", L"a", L"k", L"v", L"[a]\r\nk=v\r\n[b]\r\n"},
      // A new section goes at the end; a last line without an ending gets one.
      {L"[a]\r\nx=1", L"b", L"k", L"v", L"[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
      {L"", L"s", L"k", L"v", L"[s]\r\nk=v\r\n"},
      {L"[a]\nx=1\n", L"a", L"y", L"2", L"[a]\nx=1\ny=2\n"},
      // Only the first section of a name and the first key of a name count.
      {L"[a]\r\nk=1\r\nk=2\r\n[A]\r\nk=3\r\n", L"a", L"k", L"9",
       L"[a]\r\nk=9\r\nk=2\r\n[A]\r\nk=3\r\n"},
      {L"[a]\r\nx=1\r\n[A]\r\nk=3\r\n", L"a", L"k", L"9",
       L"[a]\r\nx=1\r\nk=9\r\n[A]\r\nk=3\r\n"},
      // Leading blanks of the value are dropped; names are trimmed.
      {L"", L" s ", L" k ", L"  v w", L"[s]\r\nk=v w\r\n"},
      // A key of the same name in another section is left alone.
      {L"[b]\r\nk=1\r\n", L"a", L"k", L"2", L"[b]\r\nk=1\r\n[a]\r\nk=2\r\n"},
  };
  for (const auto& c : cases) {
    const std::wstring out = hostbase::SetProfileString(c.text, c.section, c.key, c.value);
    EXPECT_EQ(out, c.result) << std::string(out.begin(), out.end());
    // What was written reads back.
    std::wstring v = c.value;
    v.erase(0, v.find_first_not_of(L' '));
    EXPECT_EQ(hostbase::ParseProfileString(out, c.section, c.key, L"-", 4096), v);
  }
}

TEST(Win32Shell, PureMethodsFromLua) {
  const std::string obj = "local o = _G['Win32Shell.Object'] ";
  EXPECT_EQ(run(obj + "result = o:URLEncode('a b-c')"), "a%20b%2Dc");
  EXPECT_EQ(run(obj + "local t = o:SplitString('a,,b,', ',') result = #t .. t[1] .. t[2]"),
            "2ab");
  EXPECT_EQ(run(obj + "result = #o:SplitString('', ',') .. #o:SplitString('abc', '')"), "00");
  EXPECT_EQ(run(obj + "result = o:GetDataMD5('abc') .. o:GetDataMD5('')"),
            "900150983CD24FB0D6963F7D28E17F72D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(run(obj + "result = o:GetDataMD5('a\\0b')"), "70350F6027BCE3713F6B76473084309B");
  // Missing text raises the argument error (the helper then gives "").
  for (const char* call : {"o:URLEncode()", "o:SplitString('a')", "o:GetDataMD5()",
                           "o:ReadINI('f', 's')", "o:ReadINIInteger('f')",
                           "o:WriteINI('s', 'k', 'v')", "o:GetDiskFreeSpace()"})
    EXPECT_EQ(run(obj + call + " result = 'no error'"), "") << call;
}

TEST(Win32Shell, IniFilesFromLua) {
  tiv_test_files::TempDir tmp;
  // Written with a backslash before the name, which both targets accept.
  const std::string file = tmp.path().generic_string() + "\\app.ini";
  const std::string set = "local o = _G['Win32Shell.Object'] local f = [[" + file + "]] ";
  // "Nothing" is no result at all, not nil.
  EXPECT_EQ(run(set + "result = select('#', o:ReadINI(f, 's', 'k'))"), "0");
  EXPECT_EQ(run(set + "result = tostring(o:ReadINIInteger(f, 's', 'n', 17))"), "17");
  EXPECT_EQ(run(set + "o:WriteINI('Main', 'Name', 'first value', f) "
                      "o:WriteINI('main', 'Count', '  -12', f) "
                      "o:WriteINI('MAIN', 'name', 'second', f) "
                      "o:WriteINI('Other', 'Empty', '', f) "
                      "result = o:ReadINI(f, 'main', 'NAME') .. '|' .. "
                      "o:ReadINIInteger(f, 'Main', 'count', 5) .. '|' .. "
                      "select('#', o:ReadINI(f, 'other', 'empty')) .. '|' .. "
                      "o:ReadINIInteger(f, 'other', 'empty', 5) .. '|' .. "
                      "o:ReadINIInteger(f, 'main', 'name', 5)"),
            "second|-12|0|5|0");
  // The file is one the other target's reader understands too (the layout is checked on the text
  // rules above; the Windows writer lays out blank lines its own way).
  EXPECT_EQ(hostbase::ParseProfileString(
                qv::text::utf8_to_wide(tiv_test_files::ReadFile(tmp.path() / "app.ini")), L"Main",
                L"count", L"", 4096),
            L"-12");
  // Values are cut at 4096 characters.
  EXPECT_EQ(run(set + "o:WriteINI('Main', 'Long', string.rep('x', 5000), f) "
                      "result = #o:ReadINI(f, 'Main', 'Long')"),
            "4096");
}

TEST(Win32Shell, TempDirAndDiskSpaceFromLua) {
  namespace fs = std::filesystem;
  const std::string dir = run("result = _G['Win32Shell.Object']:GetTmpDir()");
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(dir.back() == '/' || dir.back() == '\\') << dir;
  EXPECT_TRUE(fs::is_directory(fs::u8path(dir))) << dir;

  tiv_test_files::TempDir tmp;
  const fs::space_info space = fs::space(tmp.path());
  const std::string got = run("local t, f = _G['Win32Shell.Object']:GetDiskFreeSpace([[" +
                              tmp.path().generic_string() +
                              "]]) result = string.format('%.0f %s', t, tostring(f > 0 and "
                              "f <= t))");
  EXPECT_EQ(got, std::to_string(space.capacity) + " true");
  // A folder still to be created is on the volume of the folder it would be created in.
  EXPECT_EQ(run("local t, f = _G['Win32Shell.Object']:GetDiskFreeSpace([[" +
                (tmp.path() / "missing" / "deeper").generic_string() +
                "]]) result = string.format('%.0f', t)"),
            std::to_string(space.capacity));
  EXPECT_EQ(run("local t, f = _G['Win32Shell.Object']:GetDiskFreeSpace('') result = t .. ' ' .. f"),
            "0 0");
}


// ---- the rest of the object ---------------------------------------------------------------------

namespace {

namespace fs = std::filesystem;

// A path as Lua code text in the Windows form the user interface hands over.
std::string win_text(const fs::path& p) {
  std::string s = p.generic_string();
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

std::string lua_path(const fs::path& p) { return "[[" + win_text(p) + "]]"; }

// Sorted lines of a Lua array of strings (or of one field of its tables).
std::string sorted_lines(const std::string& array_expr, const std::string& field = "") {
  return run(obj() + "local t = " + array_expr +
             " local r = {} for i, v in ipairs(t) do r[i] = " +
             (field.empty() ? std::string("v") : "v." + field) +
             " end table.sort(r) result = table.concat(r, '\\n')");
}

}  // namespace

// A small tree: root/a.txt (3), root/sub/b.dat (5), root/sub/deeper/c.txt (7), root/empty/.
class ShellTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = tmp_.path() / "tree";
    fs::create_directories(root_ / "sub" / "deeper");
    fs::create_directories(root_ / "empty");
    tiv_test_files::WriteFile(root_ / "a.txt", "aaa");
    tiv_test_files::WriteFile(root_ / "sub" / "b.dat", "bbbbb");
    tiv_test_files::WriteFile(root_ / "sub" / "deeper" / "c.txt", "ccccccc");
  }
  std::string w(const std::string& relative) { return win_text(root_) + "\\" + relative; }

  tiv_test_files::TempDir tmp_;
  fs::path root_;
};

TEST_F(ShellTree, EnumFileWalksFoldersBeforeTheirContents) {
  const std::string files = w("a.txt") + "\n" + w("sub\\b.dat") + "\n" + w("sub\\deeper\\c.txt");
  const std::string folders = w("empty") + "\n" + w("sub") + "\n" + w("sub\\deeper");
  const std::string call = "o:EnumFile(%d, " + lua_path(root_) + ")";
  auto enum_call = [&](int flags) {
    std::string c = call;
    c.replace(c.find("%d"), 2, std::to_string(flags));
    return c;
  };
  EXPECT_EQ(sorted_lines(enum_call(1), "path"), files);
  EXPECT_EQ(sorted_lines(enum_call(2), "path"), folders);
  {
    std::vector<std::string> all = {w("a.txt"), w("sub\\b.dat"), w("sub\\deeper\\c.txt"),
                                     w("empty"), w("sub"), w("sub\\deeper")};
    std::sort(all.begin(), all.end());
    std::string joined;
    for (const auto& p : all) joined += (joined.empty() ? "" : "\n") + p;
    EXPECT_EQ(sorted_lines(enum_call(3), "path"), joined);
  }
  // Types, and every folder before what is inside it.
  EXPECT_EQ(run(obj() + "local t = " + enum_call(3) +
                " local seen, bad = {}, 0 "
                "for _, v in ipairs(t) do "
                "  local parent = v.path:match('^(.*)\\\\[^\\\\]*$') "
                "  if parent ~= " + lua_path(root_) + " and not seen[parent] then bad = bad + 1 end "
                "  seen[v.path] = v.type "
                "end "
                "result = #t .. ' ' .. bad .. ' ' .. seen[ " + lua_path(root_ / "sub") + " ] .. "
                "seen[ " + lua_path(root_ / "a.txt") + " ]"),
            "6 0 21");
  EXPECT_EQ(run(obj() + "result = #" + enum_call(0)), "0");
  EXPECT_EQ(run(obj() + "result = #o:EnumFile(3, " + lua_path(root_ / "missing") + ")"), "0");
  // A folder given with a trailing separator does not double it; "/" works as well.
  EXPECT_EQ(run(obj() + "result = o:EnumFile(1, [[" + root_.generic_string() + "/sub/deeper/]])[1].path"),
            root_.generic_string() + "/sub/deeper/c.txt");
  EXPECT_EQ(run(obj() + "result = 'no error' o:EnumFile(3)"), "");
}

TEST_F(ShellTree, DirSizeAddsEveryFileBelow) {
  EXPECT_EQ(run(obj() + "result = o:GetDirSize(" + lua_path(root_) + ")"), "15");
  EXPECT_EQ(run(obj() + "result = o:GetDirSize(" + lua_path(root_ / "sub") + ")"), "12");
  EXPECT_EQ(run(obj() + "result = o:GetDirSize(" + lua_path(root_ / "empty") + ")"), "0");
  EXPECT_EQ(run(obj() + "result = o:GetDirSize(" + lua_path(root_ / "missing") + ")"), "0");
  EXPECT_EQ(run(obj() + "result = 'no error' o:GetDirSize()"), "");
}

TEST_F(ShellTree, ExtFilesByPattern) {
  tiv_test_files::WriteFile(root_ / "b.TXT", "");
  tiv_test_files::WriteFile(root_ / "noext", "");
  const struct {
    const char* pattern;
    const char* names;  // sorted, "|" between; "-" for no result at all
  } cases[] = {
      {"*.txt", "a.txt|b.TXT"},
      {"*.*", "a.txt|b.TXT|empty|noext|sub"},
      {"?.dat", "-"},
      {"sub\\*.dat", "b.dat"},
      {"sub/deeper/*", "c.txt"},
      {"*.zip", "-"},
      {"", "-"},
  };
  for (const auto& c : cases) {
    const std::string call = "o:GetExtFiles(" + lua_path(root_) + ", [[" + c.pattern + "]])";
    const std::string got =
        run(obj() + "if select('#', " + call + ") == 0 then result = '-' return end "
                    "local t = " + call + " table.sort(t) result = table.concat(t, '|')");
    EXPECT_EQ(got, c.names) << c.pattern;
  }
  EXPECT_EQ(run(obj() + "result = select('#', o:GetExtFiles(" + lua_path(root_ / "missing") +
                ", '*'))"),
            "0");
  EXPECT_EQ(run(obj() + "result = 'no error' o:GetExtFiles('x')"), "");
}

TEST_F(ShellTree, RenameMovesButNeverReplaces) {
  const std::string a = lua_path(root_ / "a.txt");
  EXPECT_EQ(run(obj() + "result = select('#', o:Rename(" + a + ", " + lua_path(root_ / "sub" / "moved.txt") + "))"), "0");
  EXPECT_FALSE(fs::exists(root_ / "a.txt"));
  EXPECT_EQ(tiv_test_files::ReadFile(root_ / "sub" / "moved.txt"), "aaa");
  // A folder moves with its content.
  run(obj() + "o:Rename(" + lua_path(root_ / "sub" / "deeper") + ", " + lua_path(root_ / "d2") + ") result = ''");
  EXPECT_EQ(tiv_test_files::ReadFile(root_ / "d2" / "c.txt"), "ccccccc");
  // An existing target stays as it is, and so does the source.
  run(obj() + "o:Rename(" + lua_path(root_ / "sub" / "moved.txt") + ", " + lua_path(root_ / "sub" / "b.dat") + ") result = ''");
  EXPECT_EQ(tiv_test_files::ReadFile(root_ / "sub" / "b.dat"), "bbbbb");
  EXPECT_EQ(tiv_test_files::ReadFile(root_ / "sub" / "moved.txt"), "aaa");
  // An empty path does nothing, not a move of or into the current folder.
  run(obj() + "o:Rename('', " + lua_path(root_ / "x") + ") o:Rename(" + lua_path(root_ / "d2") + ", '') result = ''");
  EXPECT_FALSE(fs::exists(root_ / "x"));
  EXPECT_TRUE(fs::is_directory(root_ / "d2"));
  EXPECT_EQ(run(obj() + "result = 'no error' o:Rename('a')"), "");
}

TEST_F(ShellTree, DeleteAndCopyFiles) {
  // How many results, and the first.
  auto call = [&](const std::string& expr) {
    return run(obj() + "local function f(...) return select('#', ...) .. tostring((...)) end "
                       "result = f(" + expr + ")");
  };
  // CopyFile replaces an existing destination; true or nothing.
  EXPECT_EQ(call("o:CopyFile(" + lua_path(root_ / "a.txt") + ", " + lua_path(root_ / "sub" / "b.dat") + ")"), "1true");
  EXPECT_EQ(tiv_test_files::ReadFile(root_ / "sub" / "b.dat"), "aaa");
  EXPECT_EQ(call("o:CopyFile(" + lua_path(root_ / "missing") + ", " + lua_path(root_ / "m2") + ")"), "0nil");
  EXPECT_EQ(call("o:CopyFile(" + lua_path(root_ / "sub") + ", " + lua_path(root_ / "m3") + ")"), "0nil");
  EXPECT_EQ(call("o:CopyFile('', " + lua_path(root_ / "m4") + ")"), "0nil");
  EXPECT_EQ(call("o:CopyFile(" + lua_path(root_ / "a.txt") + ", '')"), "0nil");
  EXPECT_FALSE(fs::exists(root_ / "m2"));
  // DeletePathFile deletes files only.
  EXPECT_EQ(call("o:DeletePathFile(" + lua_path(root_ / "a.txt") + ")"), "1true");
  EXPECT_FALSE(fs::exists(root_ / "a.txt"));
  EXPECT_EQ(call("o:DeletePathFile(" + lua_path(root_ / "a.txt") + ")"), "0nil");
  EXPECT_EQ(call("o:DeletePathFile(" + lua_path(root_ / "empty") + ")"), "0nil");
  EXPECT_TRUE(fs::is_directory(root_ / "empty"));
  EXPECT_EQ(call("o:DeletePathFile('')"), "0nil");
  EXPECT_EQ(run(obj() + "result = 'no error' o:CopyFile('a')"), "");
  EXPECT_EQ(run(obj() + "result = 'no error' o:DeletePathFile()"), "");
}

TEST_F(ShellTree, ArchivesSynchronously) {
  using tiv_test_files::Entry;
  const fs::path zip = tmp_.path() / "pack.zip";
  tiv_test_files::WriteArchive(zip, tiv_test_files::Format::kZip,
                               {Entry("one.txt", "12345"), Entry("dir/two.txt", "abc"),
                                Entry("dir/", "", AE_IFDIR)});
  EXPECT_EQ(run(obj() + "result = o:GetUnCompressSize(" + lua_path(zip) + ")"), "8");
  EXPECT_EQ(run(obj() + "result = o:GetUnCompressSize(" + lua_path(root_ / "a.txt") + ")"), "0");
  const fs::path out = tmp_.path() / "out";
  EXPECT_EQ(run(obj() + "result = tostring(o:UnZip(" + lua_path(zip) + ", " + lua_path(out) + "))"),
            "true");
  EXPECT_EQ(tiv_test_files::ReadFile(out / "dir" / "two.txt"), "abc");
  EXPECT_EQ(run(obj() + "result = tostring(o:UnZip(" + lua_path(root_ / "missing.zip") + ", " +
                lua_path(out) + "))"),
            "false");
}

TEST(Win32Shell, SmallMethods) {
  EXPECT_EQ(run(obj() + "result = select('#', o:InVokeJsFun(1, 'x', {}))"), "0");
  // Sleep blocks for at least the time asked (the timer may end it up to one tick, 16 ms, early).
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(run(obj() + "result = select('#', o:Sleep(100))"), "0");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100 - 16));
  EXPECT_EQ(run(obj() + "result = select('#', o:Sleep(-5)) .. select('#', o:Sleep())"), "00");
  EXPECT_EQ(run(obj() + "result = o:GetLocalVer()"), qv::text::wide_to_utf8(hostbase::ReadAppVersion()));
  EXPECT_EQ(run(obj() + "result = tostring(o:IsWow64())"), shell_test::runs_under_wow64() ? "true" : "false");
  // Registry arguments that are missing give nil (query) or false, never the argument error.
  EXPECT_EQ(run(obj() + "result = tostring(o:QueryRegValue('HKEY_CURRENT_USER', 'Software')) .. "
                        "tostring(o:SetRegValue('HKEY_CURRENT_USER')) .. "
                        "tostring(o:DeleteRegValue('HKEY_CURRENT_USER', 'k'))"),
            "nilfalsefalse");
  EXPECT_EQ(run(obj() + "result = o:QueryRegValue('HKEY_CURRENT_CONFIG', 'System', 'x') .. '|' .. "
                        "tostring(o:SetRegValue('HKEY_NONE', 'k', 'v', 1)) .. "
                        "tostring(o:DeleteRegValue('HKEY_NONE', 'k', 'v')) .. "
                        "tostring(o:CreateRegKey('HKEY_NONE', 'k')) .. "
                        "tostring(o:DeleteRegKey('HKEY_NONE', 'k'))"),
            "|falsefalsefalsefalse");
  for (const char* call : {"o:CreateRegKey('HKEY_CURRENT_USER')", "o:DeleteRegKey()",
                           "o:MessageBox(0, 'caption')", "o:FileDialog(true)",
                           "o:ShellExecute(0, 'open')", "o:ShellOpen()", "o:OpenDir()",
                           "o:UnZip('a')", "o:AsyncUnzip('a')", "o:AsyncDeleteDir()",
                           "o:AsynCreateProcess()", "o:GetUnCompressSize()"})
    EXPECT_EQ(run(obj() + call + " result = 'no error'"), "") << call;
  // Only a real process id is ever ended: 0 and -1 name groups of processes.
  EXPECT_EQ(run(obj() + "o:TerminateProcess(0, 1) o:TerminateProcess(-1, 1) o:TerminateProcess() "
                        "result = 'alive'"),
            "alive");
}

namespace {

// Stands in for the process module: records what it was asked and fails commands that say so.
struct FakeProcessData {
  std::int32_t id = 0;
  hostbase::WorkItemCompletion completion;
  bool fail = false;
};
class FakeProcessImp : public hostbase::WorkItemImp<FakeProcessData> {
 public:
  using WorkItemImp::WorkItemImp;
  std::int32_t Run(void* p) override {
    return static_cast<FakeProcessData*>(p)->fail ? hostbase::kWorkFail : hostbase::kWorkOk;
  }
};
std::vector<std::string>& process_requests() {
  static std::vector<std::string> v;
  return v;
}
std::int32_t fake_queue_process(const std::string& command, std::int32_t timeout_ms,
                                hostbase::WorkItemCompletion completion) {
  process_requests().push_back(command + "@" + std::to_string(timeout_ms));
  FakeProcessData d;
  d.completion = completion;
  d.fail = command.find("fail") != std::string::npos;
  return hostbase::QueueNewItem<FakeProcessImp>(std::move(d));
}

}  // namespace

// The three jobs run on the pool and call their Lua function on this thread with id and result.
TEST_F(ShellTree, AsyncJobsCallTheirFunctionWithIdAndResult) {
  using tiv_test_files::Entry;
  const fs::path zip = tmp_.path() / "pack.zip";
  tiv_test_files::WriteArchive(zip, tiv_test_files::Format::kZip, {Entry("one.txt", "12345")});
  hostbase::SetArchiveExtractor(&desktop::ExtractAll);
  hostbase::SetProcessQueue(&fake_queue_process);
  process_requests().clear();
  const std::string setup =
      obj() + "done = {} ids = {} "
              "local function record(name) return function(id, r) "
              "  done[#done + 1] = name .. ':' .. tostring(id == ids[name]) .. ':' .. r "
              "  if #done == 7 then o.PostQuitMessage(0) end end end ";
  EXPECT_EQ(
      run(setup +
          "ids.unzip = o:AsyncUnzip(" + lua_path(zip) + ", " + lua_path(tmp_.path() / "out") +
          ", record('unzip')) "
          "ids.badzip = o:AsyncUnzip(" + lua_path(root_ / "a.txt") + ", " +
          lua_path(tmp_.path() / "out2") + ", record('badzip')) "
          "ids.silent = o:AsyncUnzip(" + lua_path(zip) + ", " + lua_path(tmp_.path() / "out3") + ") "
          "ids.del = o:AsyncDeleteDir(" + lua_path(root_ / "sub") + ", record('del')) "
          "ids.delfile = o:AsyncDeleteDir(" + lua_path(root_ / "a.txt") + ", record('delfile')) "
          "ids.run = o:AsynCreateProcess('prog ok', record('run')) "
          "ids.limit = o:AsynCreateProcess('prog fail', 2500, record('limit')) "
          "ids.none = o:AsynCreateProcess('prog none', 10, 'not a function') "
          "ids.nolimit = o:AsynCreateProcess('prog x', -7, record('nolimit')) "
          "result = ids.badzip - ids.unzip .. ids.silent - ids.badzip .. ids.del - ids.silent .. "
          "ids.nolimit - ids.unzip"),
      "1118");
  {
    hostbase_test::deadline d(30000, L"TivorelShellTestDeadline");
    qv::loop::run();
    ASSERT_FALSE(d.fired);
  }
  hostbase::SetProcessQueue(nullptr);
  hostbase::SetArchiveExtractor(nullptr);
  // In queue order; E_FAIL reaches Lua as a negative number.
  EXPECT_EQ(run("result = table.concat(done, ' ')"),
            "unzip:true:0 badzip:true:-2147467259 del:true:0 delfile:true:0 run:true:0 "
            "limit:true:-2147467259 nolimit:true:0");
  EXPECT_EQ(tiv_test_files::ReadFile(tmp_.path() / "out" / "one.txt"), "12345");
  EXPECT_EQ(tiv_test_files::ReadFile(tmp_.path() / "out3" / "one.txt"), "12345");
  EXPECT_FALSE(fs::exists(root_ / "sub"));
  EXPECT_TRUE(fs::exists(root_ / "a.txt"));
  EXPECT_EQ(process_requests(),
            (std::vector<std::string>{"prog ok@-1", "prog fail@2500", "prog none@10", "prog x@-1"}));
}

// Without a process module the item still completes, as a failure.
TEST(Win32Shell, AsyncProcessWithoutRunnerFails) {
  EXPECT_EQ(run(obj() + "id = o:AsynCreateProcess('prog', function(i, r) "
                        "  got = tostring(i == id) .. r o.PostQuitMessage(0) end) result = ''"),
            "");
  hostbase_test::deadline d(30000, L"TivorelShellTestDeadline2");
  qv::loop::run();
  ASSERT_FALSE(d.fired);
  EXPECT_EQ(run("result = got"), "true-2147467259");
}
