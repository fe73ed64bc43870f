#include <gtest/gtest.h>

#include "qv/text.h"

using namespace qv::text;

TEST(Text, RoundTripsEveryPlane) {
  const std::string samples[] = {"", "ascii", "\xC3\xA9t\xC3\xA9", "\xE4\xB8\xAD\xE6\x96\x87",
                                 "\xF0\x9F\x98\x80 emoji"};
  for (const auto& s : samples) EXPECT_EQ(wide_to_utf8(utf8_to_wide(s)), s) << s;
  EXPECT_EQ(utf8_to_wide("\xE4\xB8\xAD"), std::wstring(1, static_cast<wchar_t>(0x4E2D)));
  EXPECT_EQ(utf8_to_wide("\xF0\x9F\x98\x80").size(), sizeof(wchar_t) == 2 ? 2u : 1u);
}

TEST(Text, MalformedInputBecomesReplacementCharacters) {
  const std::wstring fffd(1, static_cast<wchar_t>(0xFFFD));
  struct Case {
    const char* in;
    std::wstring out;
  } cases[] = {
      {"\xC3", fffd},                               // cut short
      {"\xC0\xAF", fffd + fffd},                    // overlong
      {"\xED\xA0\x80", fffd + fffd + fffd},         // a surrogate
      {"a\xFF" "b", L"a" + fffd + L"b"},
  };
  for (const auto& c : cases) EXPECT_EQ(utf8_to_wide(c.in), c.out) << c.in;
}

TEST(Text, Utf16UnitsRoundTrip) {
  const std::wstring w = utf8_to_wide("a\xE4\xB8\xAD\xF0\x9F\x98\x80");
  const std::u16string u = wide_to_utf16(w);
  EXPECT_EQ(u, (std::u16string{u'a', 0x4E2D, 0xD83D, 0xDE00}));
  EXPECT_EQ(utf16_to_wide(u), w);
}
