// Command-line switches and the forwarded command lines of the single-instance block.
#include <gtest/gtest.h>

#include "desktop/command_switches.h"

#include "qv/command_line.h"
#include "qv/share_memory.h"
#include "qv/text.h"

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

using desktop::ParseSwitches;
using desktop::SwitchMap;

namespace {

std::u16string U(const char* utf8) { return qv::text::utf8_to_utf16(utf8, std::strlen(utf8)); }

SwitchMap Map(std::initializer_list<std::pair<const char*, const char*>> items) {
  SwitchMap m;
  for (const auto& [k, v] : items) m.emplace(U(k), U(v));
  return m;
}

struct SwitchCase {
  const char* what;
  const char* line;
  SwitchMap want;
  int type;
};

TEST(Switches, Table) {
  const SwitchCase cases[] = {
      {"quoted value with a blank", "tivorel.exe -type:3 -url:\"http://h/a b.apk\" -x",
       Map({{"type", "3"}, {"url", "http://h/a b.apk"}, {"x", ""}}), 3},
      {"slash switch without value", "prog /silent", Map({{"silent", ""}}), 1},
      {"slash switch, blank behind", "prog /silent -y:1", Map({{"silent", ""}, {"y", "1"}}), 1},
      {"dash at the very end ends the scan", "prog -a:1 -", Map({{"a", "1"}}), 1},
      {"first occurrence wins", "prog -type:4 -type:9 -k:a -k:b", Map({{"type", "4"}, {"k", "a"}}),
       4},
      {"no type switch gives type 1", "prog -url:x", Map({{"url", "x"}}), 1},
      {"nothing at all", "", Map({}), 1},
      {"colon at the end: a name without value", "prog -name:", Map({{"name", ""}}), 1},
      {"quote never closed: the rest is the value", "prog -u:\"a b -c",
       Map({{"u", "a b -c"}}), 1},
      {"unquoted value runs to the blank; dashes inside it start nothing before that",
       "prog -u:a-b -c", Map({{"u", "a-b"}, {"c", ""}}), 1},
      {"value to the end of the line", "prog -type:12", Map({{"type", "12"}}), 12},
      {"empty names are not inserted", "prog - -:v -- x", Map({{"-", ""}}), 1},
      {"type cut to 8 bits", "prog -type:258", Map({{"type", "258"}}), 2},
      {"type that is not a number", "prog -type:abc", Map({{"type", "abc"}}), 0},
      {"wide characters", "prog -名字:\"值 值\"", Map({{"名字", "值 值"}}), 1},
      {"a POSIX program path is no switch", "/opt/tivorel/tivorel -k:v", Map({{"k", "v"}}), 1},
      {"a dash in the program's folder is no switch", "C:\\my-apps\\tivorel.exe /x",
       Map({{"x", ""}}), 1},
      {"a quoted program with blanks and dashes", "\"C:\\a-b c\\t.exe\" -type:2",
       Map({{"type", "2"}}), 2},
      {"only a program", "/usr/bin/tivorel", Map({}), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const SwitchMap got = ParseSwitches(U(c.line));
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(desktop::StartTypeOf(got), c.type);
  }
}

// On POSIX the shell has split the command line into words and taken its own quotes out; the
// program joins them again for the switch reader. A word that still holds quotes was quoted by
// the person the Windows way and is joined as written.
TEST(Switches, WordsFromAShell) {
  const struct {
    const char* what;
    std::vector<const char*> words;
    SwitchMap want;
  } cases[] = {
      {"tivorel -url:\"a b\" (the shell took the quotes)", {"tivorel", "-url:a b"},
       Map({{"url", "a b"}})},
      {"tivorel '-url:\"a b\"' (the quotes reach the program)", {"tivorel", "-url:\"a b\""},
       Map({{"url", "a b"}})},
      {"a quoted value among others", {"/opt/t/tivorel", "-type:7", "-k:\"v w\"", "/flag"},
       Map({{"type", "7"}, {"k", "v w"}, {"flag", ""}})},
      {"one word holding several quoted switches", {"tivorel", "-url:\"a b\" -type:3"},
       Map({{"url", "a b"}, {"type", "3"}})},
      {"a program path with a blank", {"/opt/my apps/tivorel", "-n:1"}, Map({{"n", "1"}})},
      {"a program path with a colon and a blank", {"/media/x:y z/tivorel", "-n:1"},
       Map({{"n", "1"}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::wstring> words;
    for (const char* w : c.words) words.push_back(qv::text::utf8_to_wide(w));
    const std::wstring line = qv::cmdline::join_shell_words(words);
    EXPECT_EQ(ParseSwitches(qv::text::wide_to_utf16(line)), c.want) << qv::text::wide_to_utf8(line);
  }
}

// The block written the way a second start writes it: lines of UTF-16LE, each ended by a 0 unit,
// the list by another.
void WriteLines(qv::win32::multiprocess::share_memory& b, const std::vector<std::u16string>& lines) {
  auto* d = static_cast<unsigned char*>(b.data());
  std::size_t unit = 0;
  for (const auto& line : lines) {
    for (char16_t u : line) {
      d[2 * unit] = static_cast<unsigned char>(u & 0xFF);
      d[2 * unit + 1] = static_cast<unsigned char>(u >> 8);
      ++unit;
    }
    d[2 * unit] = d[2 * unit + 1] = 0;
    ++unit;
  }
}

class ForwardedBlock : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name =
        "TivorelTestForward" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000);
    ASSERT_TRUE(block_.open(name.c_str(), false));
  }
  bool AllZero() {
    const auto* d = static_cast<const unsigned char*>(block_.data());
    for (std::size_t i = 0; i < block_.size(); ++i)
      if (d[i] != 0) return false;
    return true;
  }
  qv::win32::multiprocess::share_memory block_;
};

TEST_F(ForwardedBlock, LinesAreTakenInOrderAndTheAreaIsZeroedAfter) {
  WriteLines(block_, {u"tivorel -type:3 -url:\"a b\"", u"tivorel /x", u"z"});
  const auto lines = desktop::TakeForwardedCommandLines(block_);
  EXPECT_EQ(lines, (std::vector<std::u16string>{u"tivorel -type:3 -url:\"a b\"", u"tivorel /x", u"z"}));
  EXPECT_TRUE(AllZero());
  EXPECT_TRUE(desktop::TakeForwardedCommandLines(block_).empty());
}

TEST_F(ForwardedBlock, WalkEndsAtTheFirstEmptyLineAndStillZeroesEverything) {
  WriteLines(block_, {u"one"});
  // Garbage behind the list's end is not a command line, and does not survive either.
  auto* d = static_cast<unsigned char*>(block_.data());
  d[100] = 'q';
  EXPECT_EQ(desktop::TakeForwardedCommandLines(block_), std::vector<std::u16string>{u"one"});
  EXPECT_TRUE(AllZero());
}

TEST_F(ForwardedBlock, AreaWithoutAnyEndIsReadToItsSizeOnly) {
  std::memset(block_.data(), 0x41, block_.size());
  const auto lines = desktop::TakeForwardedCommandLines(block_);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), block_.size() / 2);
  EXPECT_TRUE(AllZero());
}

TEST_F(ForwardedBlock, ClosedBlockGivesNothing) {
  block_.close();
  EXPECT_TRUE(desktop::TakeForwardedCommandLines(block_).empty());
}

}  // namespace
