// INI lookups with the rules of the Windows profile functions. On Windows the same table runs
// against the system's own GetPrivateProfileStringW, which is what keeps the POSIX reader honest.
#include <gtest/gtest.h>

#include "temp_dir.h"

#include "hostbase/profile.h"

#include "qv/text.h"

#include <chrono>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(Profile, LooksUpLikeTheWindowsProfileFunctions) {
  struct Case {
    const char* name;
    const char* text;
    const char* want;
  } cases[] = {
      {"plain", "[basic]\nappver=2.5\n", "2.5"},
      {"names in any case", "[BASIC]\nAppVer=3.0\n", "3.0"},
      {"blanks around", "  [basic]  \n   appver   =   4.1   \n", "4.1"},
      {"crlf", "[basic]\r\nappver=8.8\r\n", "8.8"},
      {"double quotes", "[basic]\nappver=\"5.0\"\n", "5.0"},
      {"single quotes", "[basic]\nappver='5.1'\n", "5.1"},
      {"unmatched quote", "[basic]\nappver=\"5.2\n", "\"5.2"},
      {"nine characters at most", "[basic]\nappver=1234567890ab\n", "123456789"},
      {"quoted and cut", "[basic]\nappver=\"1234567890\"\n", "123456789"},
      {"quoted, fits", "[basic]\nappver=\"12345678\"\n", "12345678"},
      {"empty value", "[basic]\nappver=\n", ""},
      {"no value", "[basic]\nappver\n", "1.0"},
      {"first of two keys", "[basic]\nappver=1\nappver=2\n", "1"},
      {"key in another section", "[other]\nappver=9\n[basic]\nx=1\n", "1.0"},
      {"key before any section", "appver=9\n[basic]\n", "1.0"},
      {"no section", "[other]\nappver=9\n", "1.0"},
      {"commented out", "[basic]\n;appver=9\n", "1.0"},
      {"utf-8 mark", "\xEF\xBB\xBF[basic]\nappver=6\n", "6"},
      {"value with =", "[basic]\nappver=a=b\n", "a=b"},
      {"empty file", "", "1.0"},
  };
  const tiv_test::TempDir tmp;
  const fs::path dir = tmp.path();
  int n = 0;
  for (const Case& c : cases) {
    // A new file per case: Windows caches the profile it read last.
    const fs::path file = dir / ("config" + std::to_string(n++) + ".ini");
    std::ofstream(file, std::ios::binary) << c.text;
    const std::wstring got = hostbase::ReadProfileString(L"basic", L"appver", L"1.0",
                                                    file.wstring(), 9);
    EXPECT_EQ(qv::text::wide_to_utf8(got), c.want) << c.name;
    EXPECT_EQ(qv::text::wide_to_utf8(hostbase::ParseProfileString(
                  qv::text::utf8_to_wide(std::string(c.text).substr(
                      std::string(c.text).rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0)),
                  L"basic", L"appver", L"1.0", 9)),
              c.want)
        << c.name << " (parser)";
  }
  EXPECT_EQ(hostbase::ReadProfileString(L"basic", L"appver", L"1.0", (dir / "missing.ini").wstring(), 9),
            L"1.0");
}
