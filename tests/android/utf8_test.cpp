#include <gtest/gtest.h>

#include "android/utf8.h"

using namespace tiv::android;

TEST(Utf8, PrefixNeverEndsInsideASequence) {
  const struct {
    std::string text;
    std::size_t max;
    std::size_t expected;
  } cases[] = {
      {"abc", 10, 3},
      {"abc", 3, 3},
      {"abcd", 3, 3},
      {"a\xC3\xA9", 2, 1},             // é cut after its lead byte
      {"a\xC3\xA9x", 3, 3},            // é complete
      {"a\xE2\x82\xAC", 2, 1},         // € cut after one byte
      {"a\xE2\x82\xAC", 3, 1},         // € cut after two bytes
      {"a\xE2\x82\xACz", 4, 4},        // € complete
      {"a\xF0\x9F\x98\x80", 4, 1},     // emoji cut after three bytes
      {"a\xF0\x9F\x98\x80!", 5, 5},    // emoji complete
      {"\xE2\x82\xAC\xE2\x82\xAC", 4, 3},
      {"\x80\x80\x80\x80\x80", 2, 2},  // not UTF-8: cut where asked
      {"\xC3\xA9\x80\x80", 3, 3},      // stray continuation after a whole é
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, utf8_prefix_length(c.text.data(), c.text.size(), c.max))
        << "max " << c.max << " of " << c.text.size() << " bytes";
  }
}

TEST(Utf8, ConvertsBothWays) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
  const std::wstring wide = from_utf8(text);
  EXPECT_EQ(text, to_utf8(wide));
  EXPECT_EQ(L'a', wide.front());
  EXPECT_EQ(L'z', wide.back());
  EXPECT_EQ(sizeof(wchar_t) == 2 ? 6u : 5u, wide.size());
  // Invalid bytes become U+FFFD rather than disappearing or reading past the end.
  EXPECT_EQ(L"a\uFFFDb", from_utf8("a\xFF" "b"));
  EXPECT_EQ(L"a\uFFFD", from_utf8("a\xE2\x82"));
  EXPECT_EQ(L"\uFFFD\uFFFD", from_utf8("\xC0\xAF"));  // overlong
}
