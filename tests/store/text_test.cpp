#include "store/text.h"

#include <gtest/gtest.h>

namespace {

struct utf8_case {
  const char* label;
  std::string utf8;
  std::u16string utf16;
};

TEST(TextTest, Utf8ToUtf16) {
  const utf8_case cases[] = {
      {"ascii", "abc", u"abc"},
      {"chinese", "套餐", u"套餐"},
      {"astral", "\xF0\x9F\x98\x80", u"\U0001F600"},
      {"embedded nul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"stray continuation", "a\x80z", u"a\uFFFDz"},
      {"truncated sequence", "a\xE5\xA5z", u"a\uFFFDz"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD"},
      {"invalid lead byte", "\xFF", u"\uFFFD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(store::utf8_to_utf16(c.utf8), c.utf16);
  }
}

TEST(TextTest, Utf16ToUtf8AndWide) {
  EXPECT_EQ(store::utf16_to_utf8(u"套餐\U0001F600"), "套餐\xF0\x9F\x98\x80");
  EXPECT_EQ(store::utf16_to_utf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
  EXPECT_EQ(store::utf16_to_utf8(std::u16string(u"\xDC00x", 2)), "\xEF\xBF\xBDx");
  const std::u16string s = u"C:\\下载\\\U0001F600.apk";
  EXPECT_EQ(store::wide_to_utf16(store::utf16_to_wide(s)), s);
  EXPECT_EQ(store::utf16_to_wide(u"\U0001F600a"), L"\U0001F600a");
}

}  // namespace
