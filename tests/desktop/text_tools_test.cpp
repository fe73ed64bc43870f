// URL decoding, byte counts and pinyin initials in code page 936.
#include <gtest/gtest.h>

#include "desktop/text_tools.h"

#include "qv/codepage.h"
#include "qv/text.h"

#include <string>

namespace {

// The UTF-8 form of a code page 936 byte pair, through the converter the program itself uses.
std::string FromCp936(const std::string& bytes) {
  return qv::text::utf16_to_utf8(qv::codepage::cp936_to_utf16(bytes));
}

TEST(URLDecode, Table) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"%41%42c", "ABc"},
      {"a+b%20c", "a+b c"},
      {"%e4%b8%ad%E5%9B%BD", "中国"},
      {"100%", "100%"},
      {"%4", "%4"},
      {"%zz%4g", "%zz%4g"},
      {"中%21", "中!"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(desktop::URLDecode(c.in), c.out) << c.in;
  EXPECT_EQ(desktop::URLDecode("a%00b"), std::string("a\0b", 3));
}

TEST(GetBytesNum, CountsCodePage936Bytes) {
  EXPECT_EQ(desktop::Cp936ByteCount(""), 0u);
  EXPECT_EQ(desktop::Cp936ByteCount("abc"), 3u);
  EXPECT_EQ(desktop::Cp936ByteCount("中国a"), 5u);  // 7 bytes of UTF-8
  EXPECT_EQ(desktop::Cp936ByteCount("丂"), 2u);     // GBK beyond GB2312
}

TEST(ConvertChinese, Table) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"Hello, 123!", "Hello, 123!"},
      {"中国", "ZG"},
      {"北京abc", "BJabc"},
      {FromCp936("\xB0\xA1"), "A"},   // the first first-level character (area 1601)
      {FromCp936("\xB0\xC4"), "A"},   // area 1636, the last of A
      {FromCp936("\xB0\xC5"), "B"},   // area 1637
      {FromCp936("\xD7\xF9"), "Z"},   // area 5589, the last first-level character
      {FromCp936("\xD8\xA1"), "C"},   // the first second-level character, table entry 0
      {FromCp936("\xD8\xA2"), "J"},   // entry 1
      {FromCp936("\xF7\xFE"), "Z"},   // the last entry
      {"拼音首字母", "PYSZM"},
      {"丂", "丂"},                                     // lead byte 0x81: passes unchanged
      {"、", "、"},                                     // a symbol row: both bytes unchanged
      {"Ａ１", "Ａ１"},                                 // full-width row: both bytes unchanged
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(desktop::ConvertChinese(c.in), c.out) << c.in;
}

TEST(ConvertChinese, LoneLastLeadByteIsKept) {
  EXPECT_EQ(desktop::PinyinInitialsCp936("a\xD6"), "a\xD6");
}

// The generated table against the initials that the program has always given for the first
// second-level characters ("[" marks places where those had no letter).
TEST(ConvertChinese, GeneratedTableAgreesWithTheKnownFirstEntries) {
  const std::string known = "CJWGNSPGCGNE[Y[BTYYZ";
  for (std::size_t i = 0; i < known.size(); ++i) {
    if (known[i] == '[') continue;
    EXPECT_EQ(desktop::kSecondLevelInitials[i], known[i]) << i;
  }
  for (std::size_t i = 0; i < desktop::kSecondLevelCount; ++i) {
    const char c = desktop::kSecondLevelInitials[i];
    EXPECT_TRUE(c >= 'A' && c <= 'Z') << i;
  }
  EXPECT_EQ(desktop::kSecondLevelInitials[desktop::kSecondLevelCount], '\0');
}

}  // namespace
