// The single-instance block: command lines of later instances, appended in arrival order.
#include <gtest/gtest.h>

#include "app/startup.h"
#include "spawn.h"
#include "test_env.h"

#include "qv/text.h"

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

using qv::win32::multiprocess::share_memory;

namespace {

struct counting_block : share_memory {
  int created = 0;
  void on_created(void* data, std::uint32_t size) override {
    ++created;
    share_memory::on_created(data, size);
  }
};

std::vector<std::u16string> strings_in(share_memory& b) {
  std::vector<std::u16string> out;
  const auto* d = static_cast<const unsigned char*>(b.data());
  const std::size_t units = b.size() / 2;
  std::u16string cur;
  for (std::size_t i = 0; i < units; ++i) {
    char16_t u = static_cast<char16_t>(d[2 * i] | (d[2 * i + 1] << 8));
    if (u != 0) {
      cur.push_back(u);
      continue;
    }
    if (cur.empty()) break;  // the list's closing 0
    out.push_back(cur);
    cur.clear();
  }
  return out;
}


class InstanceBlock : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "TivorelTestInstance" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000);
    ASSERT_TRUE(block_.open(name_.c_str(), false));
  }
  unsigned char* bytes() { return static_cast<unsigned char*>(block_.data()); }
  bool all_zero_from(std::size_t byte) {
    for (std::size_t i = byte; i < block_.size(); ++i)
      if (bytes()[i] != 0) return false;
    return true;
  }
  std::string name_;
  share_memory block_;
};

}  // namespace

TEST_F(InstanceBlock, LineOf1997UnitsFitsAnEmptyBlockAnd1998DoNot) {
  EXPECT_FALSE(app::AppendCommandLine(block_, std::wstring(1998, L'x')));
  EXPECT_TRUE(all_zero_from(0));
  ASSERT_TRUE(app::AppendCommandLine(block_, std::wstring(1997, L'y')));
  auto s = strings_in(block_);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0], std::u16string(1997, u'y'));
  EXPECT_TRUE(all_zero_from(1997 * 2));
}

TEST_F(InstanceBlock, LinesFollowEachOtherUntilTheAreaIsFull) {
  ASSERT_TRUE(app::AppendCommandLine(block_, L"first line"));
  ASSERT_TRUE(app::AppendCommandLine(block_, L"second"));
  auto s = strings_in(block_);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0], u"first line");
  EXPECT_EQ(s[1], u"second");
  // 10 + 1 + 6 units used; the third starts behind the second's 0: i = 17, so 1980 units fit.
  EXPECT_FALSE(app::AppendCommandLine(block_, std::wstring(1981, L'z')));
  EXPECT_TRUE(app::AppendCommandLine(block_, std::wstring(1980, L'z')));
  EXPECT_EQ(strings_in(block_).size(), 3u);
  EXPECT_FALSE(app::AppendCommandLine(block_, L"a"));

  // Once the serving instance has read and emptied it, writing starts at unit 0 again.
  std::memset(block_.data(), 0, block_.size());
  ASSERT_TRUE(app::AppendCommandLine(block_, L"again"));
  EXPECT_EQ(bytes()[0], 'a');
  EXPECT_EQ(strings_in(block_), std::vector<std::u16string>{u"again"});
}

TEST_F(InstanceBlock, AreaWithoutEndIsNotOverrun) {
  std::memset(block_.data(), 0x41, block_.size());
  EXPECT_FALSE(app::AppendCommandLine(block_, L""));
  for (std::size_t i = 0; i < block_.size(); ++i) ASSERT_EQ(bytes()[i], 0x41) << i;
}

TEST_F(InstanceBlock, ClosedBlockTakesNothing) {
  block_.close();
  EXPECT_FALSE(app::AppendCommandLine(block_, L"line"));
}

// Two real starts of the host while this process holds the block: each appends its whole command
// line and exits with 0.
TEST(SecondInstance, AppendsItsCommandLineAndExits) {
  // A scope of our own, inherited by the hosts started below: a host running elsewhere on the
  // machine does not meet this test.
  const std::string scope =
      "apptest" + std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
  set_test_env("TIVOREL_OBJECT_SCOPE", scope.c_str());
  counting_block serving;
  ASSERT_TRUE(serving.open(app::kInstanceBlockName, false));
  ASSERT_EQ(serving.created, 1) << "another instance of the host is running";

  EXPECT_EQ(run_program(TIVOREL_HOST_PATH, {"--first", "two words"}), 0);
  EXPECT_EQ(run_program(TIVOREL_HOST_PATH, {"/second:1"}), 0);

  serving.lock();
  auto s = strings_in(serving);
  serving.unlock();
  ASSERT_EQ(s.size(), 2u);
  const std::wstring first = qv::text::utf16_to_wide(s[0]);
  const std::wstring second = qv::text::utf16_to_wide(s[1]);
  const std::wstring tail1 = L" --first \"two words\"";
  const std::wstring tail2 = L" /second:1";
  ASSERT_GT(first.size(), tail1.size());
  EXPECT_EQ(first.substr(first.size() - tail1.size()), tail1);
  EXPECT_NE(first.find(L"tivorel"), std::wstring::npos);  // the program path comes first
  ASSERT_GT(second.size(), tail2.size());
  EXPECT_EQ(second.substr(second.size() - tail2.size()), tail2);
  set_test_env("TIVOREL_OBJECT_SCOPE", "");
}

// The size limit seen from real processes: a whole command line of 1997 units fits into an
// empty block, one of 1998 is dropped, and the starting process still exits with 0.
TEST(SecondInstance, LineOf1997UnitsFitsAnd1998IsDropped) {
  const std::string scope =
      "apptest" + std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
  set_test_env("TIVOREL_OBJECT_SCOPE", scope.c_str());
  counting_block serving;
  ASSERT_TRUE(serving.open(app::kInstanceBlockName, false));
  ASSERT_EQ(serving.created, 1);

  // What the system puts in front of the arguments (program path, separator).
  ASSERT_EQ(run_program(TIVOREL_HOST_PATH, {"x"}), 0);
  auto s = strings_in(serving);
  ASSERT_EQ(s.size(), 1u);
  ASSERT_GT(s[0].size(), 1u);
  const std::size_t prefix = s[0].size() - 1;
  ASSERT_LT(prefix, 1900u);

  std::memset(serving.data(), 0, serving.size());
  ASSERT_EQ(run_program(TIVOREL_HOST_PATH, {std::string(1997 - prefix, 'a')}), 0);
  s = strings_in(serving);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].size(), 1997u);

  std::memset(serving.data(), 0, serving.size());
  ASSERT_EQ(run_program(TIVOREL_HOST_PATH, {std::string(1998 - prefix, 'b')}), 0);
  const auto* d = static_cast<const unsigned char*>(serving.data());
  for (std::size_t i = 0; i < serving.size(); ++i) ASSERT_EQ(d[i], 0) << i;
  set_test_env("TIVOREL_OBJECT_SCOPE", "");
}
