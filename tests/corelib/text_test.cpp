#include <gtest/gtest.h>

#include "qv/text.h"
#include "qv/url_encode.h"

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

// UTF-8 to UTF-16 code units, on every target: whole text, NUL inside, and one U+FFFD per
// ill-formed part.
TEST(Text, Utf8ToUtf16Units) {
  const struct {
    std::string utf8;
    std::u16string utf16;
    const char* label;
  } cases[] = {
      {"abc", u"abc", "ascii"},
      {"\xE5\xA5\x97\xE9\xA4\x90", u"\u5957\u9910", "chinese"},
      {"\xF0\x9F\x98\x80", u"\U0001F600", "astral"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3), "embedded nul"},
      {"a\x80z", u"a\uFFFDz", "stray continuation"},
      {"a\xE5\xA5z", u"a\uFFFDz", "truncated sequence"},
      {"\xC0\xAF", u"\uFFFD\uFFFD", "overlong slash"},
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD", "overlong three bytes"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", "encoded surrogate"},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", "beyond U+10FFFF"},
      {"\xFF", u"\uFFFD", "invalid lead byte"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(utf8_to_utf16(c.utf8), c.utf16);
    // The wide form decodes the same way.
    EXPECT_EQ(wide_to_utf16(utf8_to_wide(c.utf8)), c.utf16);
  }
}

TEST(Text, Utf16UnitsToUtf8) {
  EXPECT_EQ(utf16_to_utf8(u"\u5957\u9910\U0001F600"), "\xE5\xA5\x97\xE9\xA4\x90\xF0\x9F\x98\x80");
  EXPECT_EQ(utf16_to_utf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");  // lone high half
  EXPECT_EQ(utf16_to_utf8(std::u16string(u"\xDC00x", 2)), "\xEF\xBF\xBDx");  // lone low half
  const std::u16string path = u"C:\\\u4E0B\u8F7D\\\U0001F600.apk";
  EXPECT_EQ(wide_to_utf16(utf16_to_wide(path)), path);
  EXPECT_EQ(utf16_to_wide(u"\U0001F600a"), L"\U0001F600a");
}

TEST(Text, PrefixNeverEndsInsideASequence) {
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

TEST(Text, MixedTextRoundTripsAndCutSequencesDoNotReadPastTheEnd) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
  const std::wstring wide = utf8_to_wide(text);
  EXPECT_EQ(text, wide_to_utf8(wide));
  EXPECT_EQ(sizeof(wchar_t) == 2 ? 6u : 5u, wide.size());
  EXPECT_EQ(L"a\uFFFD", utf8_to_wide("a\xE2\x82"));
}

TEST(Text, PercentDecodingKeepsWhatIsNotAnEscapeAndStaysInsideTheText) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"%7B%22is%22%3A1%7D", "{\"is\":1}"},
      {"a%20b%2d", "a b-"},
      {"%4", "%4"},      // cut escape at the end
      {"%", "%"},
      {"%zz%4G", "%zz%4G"},
      {"100%", "100%"},
      {"%E4%BD%A0", "\xE4\xBD\xA0"},
      {std::string("%00x", 4), std::string("\0x", 2)},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.out, percent_decode(c.in)) << c.in;
}

// The shell's rule keeps "/" and "." only; a request's query value keeps the unreserved marks.
TEST(Text, UrlEncodingKeepsWhatTheNamedRuleKeeps) {
  const struct {
    std::string in;
    url_keep keep;
    std::string out;
  } cases[] = {
      {"AZaz09/.", url_keep::path_text, "AZaz09/."},
      {"a b-c", url_keep::path_text, "a%20b%2Dc"},
      {"_~:?=&%+", url_keep::path_text, "%5F%7E%3A%3F%3D%26%25%2B"},
      {"\xC3\xA9", url_keep::path_text, "%C3%A9"},
      {std::string("a\0b", 3), url_keep::path_text, "a%00b"},
      {"\xFF", url_keep::path_text, "%FF"},
      {"", url_keep::path_text, ""},
      {"1.0", url_keep::unreserved, "1.0"},
      {"2.5 beta+1~_-", url_keep::unreserved, "2.5%20beta%2B1~_-"},
      {"&v=9/?#", url_keep::unreserved, "%26v%3D9%2F%3F%23"},
      {"\xE4\xB8\xAD", url_keep::unreserved, "%E4%B8%AD"},
      {std::string("\0", 1), url_keep::unreserved, "%00"},
  };
  for (const auto& c : cases) EXPECT_EQ(url_encode(c.in, c.keep), c.out) << c.in;
}

// Text kept as UTF-8 comes out of the validity pass as a trip through wide text leaves it:
// unchanged when well-formed, with U+FFFD for each malformed part, wherever that part stands
// (inside and after runs of ASCII that the pass skips eight bytes at a time).
TEST(Text, ValidUtf8IsWhatAWideTripGives) {
  const std::string run(13, 'x');
  const struct {
    std::string in;
    bool well_formed;
    const char* label;
  } cases[] = {
      {"", true, "empty"},
      {run + run, true, "ascii"},
      {run + "\xE4\xB8\xAD" + run + "\xF0\x9F\x98\x80" "\xEF\xBF\xBD", true, "every length"},
      {std::string("a\0b", 3) + run, true, "embedded nul"},
      {run + "\x80" + run, false, "stray continuation"},
      {run + "\xE5\xA5", false, "cut at the end"},
      {"\xE5\xA5" + run, false, "cut before ascii"},
      {run + "\xC0\xAF" "\xE0\x80\x80" "\xED\xA0\x80", false, "overlong and surrogate"},
      {"\xF4\x90\x80\x80" + run + "\xFF", false, "beyond U+10FFFF and a bad lead byte"},
      {"\xC3\xA9" + run + "\xC3", false, "good, then cut"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string out = valid_utf8(c.in);
    EXPECT_EQ(out, wide_to_utf8(utf8_to_wide(c.in)));
    EXPECT_EQ(c.well_formed, out == c.in);
  }
}
